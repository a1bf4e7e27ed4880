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

using V = ChainVerdict;
constexpr auto kTrusted = V::kTrusted;

const ChainCase kChains[] = {
    {"Trusted", [](auto&) {}, kTrusted, kTrusted},
    {"SystemFailed", [](auto& c) { c = CertificateChain{}; }, V::kSystemFailed,
     V::kSystemFailed},
    {"NoElements", [](auto& c) { c.elements.clear(); }, V::kSystemFailed,
     V::kSystemFailed},
    // The system's own status says so, or only our look into the store.
    {"UntrustedRootStatus", [](auto& c) { c.errorStatus = 0x20; },
     V::kUntrustedRoot, V::kUntrustedRoot},
    {"RootNotInStore", [](auto& c) { c.rootInStore = false; },
     V::kUntrustedRoot, V::kUntrustedRoot},
    {"SelfSignedEnd",
     [](auto& c) {
       c.elements.resize(1);
       c.rootInStore = false;
     },
     V::kUntrustedRoot, V::kUntrustedRoot},
    {"PartialStatus", [](auto& c) { c.errorStatus = 0x10000; },
     V::kPartialChain, V::kPartialChain},
    {"EndsInAnIssuedCertificate", [](auto& c) { c.rootSelfIssued = false; },
     V::kPartialChain, V::kPartialChain},
    {"BadSignatureStatus", [](auto& c) { c.errorStatus = 0x8; },
     V::kBadSignature, V::kBadSignature},
    // A trusted root's name on another key: the link to it does not verify.
    {"LinkDoesNotVerify", [](auto& c) { c.elements[1].signatureValid = false; },
     V::kBadSignature, V::kBadSignature},
    {"RootSignatureBad", [](auto& c) { c.elements[2].signatureValid = false; },
     V::kBadSignature, V::kBadSignature},
    {"IntermediateNotCa", [](auto& c) { c.elements[1].isCa = false; },
     V::kNotCa, V::kNotCa},
    // A TLS server's certificate signing code, or the reverse.
    {"UsageNotAllowed", [](auto& c) { c.usageAllowed = false; }, V::kWrongUsage,
     V::kWrongUsage},
    {"UsageStatus", [](auto& c) { c.errorStatus = 0x10; }, V::kWrongUsage,
     V::kWrongUsage},
    {"BasicConstraintsStatus", [](auto& c) { c.errorStatus = 0x400; },
     V::kNotCa, V::kNotCa},
    // The end certificate and a v1 root need not be CAs.
    {"EndAndRootNotCa",
     [](auto& c) {
       c.elements[0].isCa = false;
       c.elements[2].isCa = false;
     },
     kTrusted, kTrusted},
    // Time is the trust provider's business for a signer (timestamps).
    {"Expired", [](auto& c) { c.errorStatus = 0x1; }, kTrusted, V::kOtherError},
    {"RevocationNotChecked", [](auto& c) { c.errorStatus = 0x40 | 0x1000000; },
     kTrusted, kTrusted},
    {"Revoked", [](auto& c) { c.errorStatus = 0x4; }, V::kOtherError,
     V::kOtherError},
};

INSTANTIATE_TEST_SUITE_P(Table, ChainTest, ::testing::ValuesIn(kChains),
                         testing_support::CaseName());

struct HostCase {
  const char* name;
  std::string host;
  bool matches;
  std::vector<std::string> dns;
  std::vector<std::string> ips = {};
  std::vector<std::string> commonNames = {};
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

const HostCase kHosts[] = {
    {"Exact", "update.example", true, {"update.example"}},
    {"LetterCaseAndFinalDot", "UPDATE.example", true, {"Update.Example."}},
    {"OtherHost", "evil.example", false, {"update.example"}},
    {"SecondName", "update.example", true, {"a.example", "update.example"}},
    {"WildcardOneLabel", "a.b.example", true, {"*.b.example"}},
    {"WildcardNotTwoLabels", "x.a.b.example", false, {"*.b.example"}},
    {"WildcardNotTheBase", "b.example", false, {"*.b.example"}},
    {"WildcardOverOneLabelOnly", "a.b.example", false, {"*.example"}},
    {"WildcardOverATopLevel", "a.example", false, {"*.example"}},
    {"PartialWildcard", "update.b.example", false, {"u*.b.example"}},
    {"WildcardNotLeftmost", "a.b.example", false, {"a.*.example"}},
    {"EmbeddedNul",
     "update.example",
     false,
     {std::string("update.example\0.evil", 20)}},
    {"CommonNameWithoutAltNames",
     "update.example",
     true,
     {},
     {},
     {"update.example"}},
    {"CommonNameIgnoredBesideAltNames",
     "update.example",
     false,
     {"other.example"},
     {},
     {"update.example"}},
    {"IpAddress", "127.0.0.1", true, {}, {kLoopback}},
    {"IpAddressAsDnsName", "127.0.0.1", false, {"127.0.0.1"}},
    {"IpAddressAsCommonName", "127.0.0.1", false, {}, {}, {"127.0.0.1"}},
    {"WildcardOverAnAddress", "127.0.0.1", false, {"*.0.0.1"}},
    {"OtherAddress", "127.0.0.2", false, {}, {kLoopback}},
    {"AddressNamesNoHost", "localhost", false, {}, {kLoopback}},
    {"Ipv6", "[::1]", true, {}, {kIpv6Loopback}},
    {"Ipv6Written", "[0:0:0:0:0:0:0:1]", true, {}, {kIpv6Loopback}},
    {"Ipv6AgainstIpv4", "[::1]", false, {}, {kLoopback}},
};

INSTANTIATE_TEST_SUITE_P(Table, HostTest, ::testing::ValuesIn(kHosts),
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
