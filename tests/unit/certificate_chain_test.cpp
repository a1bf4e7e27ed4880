// The updater's own trust decisions on certificate chains and server names,
// from the facts the platform layer reports (faked here): every outcome of
// the signer's and the server's check.
#include "trust/certificate_chain.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "download/server_certificate.h"
#include "fakes/fake_platform.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using platform::CertificateChain;
using platform::CertificateNames;

struct ChainCase {
  const char* name;
  std::function<void(CertificateChain&)> change;  // made to a trusted chain
  ChainVerdict signer;
  ChainVerdict server;
};

class ChainTest : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ChainTest, VerdictForEachUse) {
  CertificateChain chain = fake::trustedChain();
  GetParam().change(chain);
  EXPECT_EQ(judgeChain(chain, ChainUse::kCodeSigning), GetParam().signer);
  EXPECT_EQ(judgeChain(chain, ChainUse::kServer), GetParam().server);
}

constexpr auto kTrusted = ChainVerdict::kTrusted;

INSTANTIATE_TEST_SUITE_P(
    Table, ChainTest,
    ::testing::Values(
        ChainCase{"Trusted", [](CertificateChain&) {}, kTrusted, kTrusted},
        ChainCase{"SystemFailed",
                  [](CertificateChain& c) { c = CertificateChain{}; },
                  ChainVerdict::kSystemFailed, ChainVerdict::kSystemFailed},
        ChainCase{"NoElements", [](CertificateChain& c) { c.elements.clear(); },
                  ChainVerdict::kSystemFailed, ChainVerdict::kSystemFailed},
        // The system's own status says so, or only our look into the store.
        ChainCase{"UntrustedRootStatus",
                  [](CertificateChain& c) { c.errorStatus = 0x20; },
                  ChainVerdict::kUntrustedRoot, ChainVerdict::kUntrustedRoot},
        ChainCase{"RootNotInStore",
                  [](CertificateChain& c) { c.rootInStore = false; },
                  ChainVerdict::kUntrustedRoot, ChainVerdict::kUntrustedRoot},
        ChainCase{"SelfSignedEnd",
                  [](CertificateChain& c) {
                    c.elements.resize(1);
                    c.rootInStore = false;
                  },
                  ChainVerdict::kUntrustedRoot, ChainVerdict::kUntrustedRoot},
        ChainCase{"PartialStatus",
                  [](CertificateChain& c) { c.errorStatus = 0x10000; },
                  ChainVerdict::kPartialChain, ChainVerdict::kPartialChain},
        ChainCase{"EndsInAnIssuedCertificate",
                  [](CertificateChain& c) { c.rootSelfIssued = false; },
                  ChainVerdict::kPartialChain, ChainVerdict::kPartialChain},
        ChainCase{"BadSignatureStatus",
                  [](CertificateChain& c) { c.errorStatus = 0x8; },
                  ChainVerdict::kBadSignature, ChainVerdict::kBadSignature},
        // A trusted root's name on another key: the link to it does not verify.
        ChainCase{
            "LinkDoesNotVerify",
            [](CertificateChain& c) { c.elements[1].signatureValid = false; },
            ChainVerdict::kBadSignature, ChainVerdict::kBadSignature},
        ChainCase{
            "RootSignatureBad",
            [](CertificateChain& c) { c.elements[2].signatureValid = false; },
            ChainVerdict::kBadSignature, ChainVerdict::kBadSignature},
        ChainCase{"IntermediateNotCa",
                  [](CertificateChain& c) { c.elements[1].isCa = false; },
                  ChainVerdict::kNotCa, ChainVerdict::kNotCa},
        // A TLS server's certificate signing code, or the reverse.
        ChainCase{"UsageNotAllowed",
                  [](CertificateChain& c) { c.usageAllowed = false; },
                  ChainVerdict::kWrongUsage, ChainVerdict::kWrongUsage},
        ChainCase{"UsageStatus",
                  [](CertificateChain& c) { c.errorStatus = 0x10; },
                  ChainVerdict::kWrongUsage, ChainVerdict::kWrongUsage},
        ChainCase{"BasicConstraintsStatus",
                  [](CertificateChain& c) { c.errorStatus = 0x400; },
                  ChainVerdict::kNotCa, ChainVerdict::kNotCa},
        // The end certificate and a v1 root need not be CAs.
        ChainCase{"EndAndRootNotCa",
                  [](CertificateChain& c) {
                    c.elements[0].isCa = false;
                    c.elements[2].isCa = false;
                  },
                  kTrusted, kTrusted},
        // Time is the trust provider's business for a signer (timestamps).
        ChainCase{"Expired", [](CertificateChain& c) { c.errorStatus = 0x1; },
                  kTrusted, ChainVerdict::kOtherError},
        ChainCase{"RevocationNotChecked",
                  [](CertificateChain& c) { c.errorStatus = 0x40 | 0x1000000; },
                  kTrusted, kTrusted},
        ChainCase{"Revoked", [](CertificateChain& c) { c.errorStatus = 0x4; },
                  ChainVerdict::kOtherError, ChainVerdict::kOtherError}),
    testing_support::CaseName());

struct HostCase {
  const char* name;
  std::vector<std::string> dns;
  std::vector<std::string> ips;
  std::vector<std::string> commonNames;
  std::string host;
  bool matches;
};

class HostTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostTest, NamesCoverTheHost) {
  CertificateNames names;
  names.hasAltNames = !GetParam().dns.empty() || !GetParam().ips.empty();
  names.dnsNames = GetParam().dns;
  names.ipAddresses = GetParam().ips;
  names.commonNames = GetParam().commonNames;
  EXPECT_EQ(namesHost(names, GetParam().host), GetParam().matches);
}

const std::string kLoopback("\x7f\0\0\x01", 4);
const std::string kIpv6Loopback = std::string(15, '\0') + "\x01";

INSTANTIATE_TEST_SUITE_P(
    Table, HostTest,
    ::testing::Values(
        HostCase{"Exact", {"update.example"}, {}, {}, "update.example", true},
        HostCase{"LetterCaseAndFinalDot",
                 {"Update.Example."},
                 {},
                 {},
                 "UPDATE.example",
                 true},
        HostCase{
            "OtherHost", {"update.example"}, {}, {}, "evil.example", false},
        HostCase{"SecondName",
                 {"a.example", "update.example"},
                 {},
                 {},
                 "update.example",
                 true},
        HostCase{
            "WildcardOneLabel", {"*.b.example"}, {}, {}, "a.b.example", true},
        HostCase{"WildcardNotTwoLabels",
                 {"*.b.example"},
                 {},
                 {},
                 "x.a.b.example",
                 false},
        HostCase{
            "WildcardNotTheBase", {"*.b.example"}, {}, {}, "b.example", false},
        HostCase{"WildcardOverOneLabelOnly",
                 {"*.example"},
                 {},
                 {},
                 "a.b.example",
                 false},
        HostCase{
            "WildcardOverATopLevel", {"*.example"}, {}, {}, "a.example", false},
        HostCase{"PartialWildcard",
                 {"u*.b.example"},
                 {},
                 {},
                 "update.b.example",
                 false},
        HostCase{"WildcardNotLeftmost",
                 {"a.*.example"},
                 {},
                 {},
                 "a.b.example",
                 false},
        HostCase{"EmbeddedNul",
                 {std::string("update.example\0.evil", 20)},
                 {},
                 {},
                 "update.example",
                 false},
        HostCase{"CommonNameWithoutAltNames",
                 {},
                 {},
                 {"update.example"},
                 "update.example",
                 true},
        HostCase{"CommonNameIgnoredBesideAltNames",
                 {"other.example"},
                 {},
                 {"update.example"},
                 "update.example",
                 false},
        HostCase{"IpAddress", {}, {kLoopback}, {}, "127.0.0.1", true},
        HostCase{
            "IpAddressAsDnsName", {"127.0.0.1"}, {}, {}, "127.0.0.1", false},
        HostCase{
            "IpAddressAsCommonName", {}, {}, {"127.0.0.1"}, "127.0.0.1", false},
        HostCase{
            "WildcardOverAnAddress", {"*.0.0.1"}, {}, {}, "127.0.0.1", false},
        HostCase{"OtherAddress", {}, {kLoopback}, {}, "127.0.0.2", false},
        HostCase{"AddressNamesNoHost", {}, {kLoopback}, {}, "localhost", false},
        HostCase{"Ipv6", {}, {kIpv6Loopback}, {}, "[::1]", true},
        HostCase{
            "Ipv6Written", {}, {kIpv6Loopback}, {}, "[0:0:0:0:0:0:0:1]", true},
        HostCase{"Ipv6AgainstIpv4", {}, {kLoopback}, {}, "[::1]", false}),
    testing_support::CaseName());

TEST(IpAddressTest, OnlyWellFormedAddresses) {
  EXPECT_EQ(ipAddressBytes("10.1.2.3"), std::string("\x0a\x01\x02\x03"));
  EXPECT_EQ(ipAddressBytes("[::ffff:1.2.3.4]"),
            std::string(10, '\0') + "\xff\xff\x01\x02\x03\x04");
  for (const char* name : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "01.1.1.1",
                           "1.2.3.x", "[1:2:3:4:5:6:7]", "[1::2::3]",
                           "[12345::]", "[::1:]", "update.example", ""}) {
    EXPECT_EQ(ipAddressBytes(name), "") << name;
  }
}

using ServerCheckTest = testing_support::PlatformTest;

TEST_F(ServerCheckTest, ChainAndNameBothDecide) {
  const platform::TlsSession session;
  EXPECT_TRUE(serverCertificateTrusted("update.example", session));
  EXPECT_FALSE(serverCertificateTrusted("other.example", session));
  fake::certificates().server.chain.rootInStore = false;
  EXPECT_FALSE(serverCertificateTrusted("update.example", session));
  fake::certificates().server.chain =
      CertificateChain{};  // the system call failed
  EXPECT_FALSE(serverCertificateTrusted("update.example", session));
  EXPECT_EQ(fake::certificates().examined, 4);
}

}  // namespace
