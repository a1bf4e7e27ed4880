// The manifest's signature and expiry judged over the bytes read, with the
// system's signature verification faked: every refusal with its exact entry.
#include "trust/manifest_trust.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fakes/fake_platform.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;

constexpr std::int64_t kExpiry = 1796896800;  // 2026-12-10T10:00:00Z
const std::string kExpires = "<expires>2026-12-10T10:00:00Z</expires>";

struct TrustCase {
  const char* name;
  int code;  // the signature transfer: 0 ok, -1 failed with code 0 (empty),
             // else libcurl's code
  bool required;
  std::string expires;  // the manifest's expiry elements
  std::int64_t now;
  std::function<void(platform::DetachedSignature&)> answer;
  bool usable;
  bool releaseFault;
  std::string entry;
  // Carried in the signature (one that is not detached).
  std::string content = "";
};

void asIs(platform::DetachedSignature&) {}

// The frame of a SignedData ContentInfo; `content` follows the content type
// inside the encapsulated content (empty: a detached signature).
std::string signedData(const std::string& content) {
  const auto element = [](char tag, const std::string& body) {
    return std::string(1, tag) + static_cast<char>(body.size()) + body;
  };
  const std::string oid = "\x2a\x86\x48\x86\xf7\x0d\x01\x07";
  const std::string encapsulated =
      element('\x30', element('\x06', oid + "\x01") + content);
  const std::string data =
      element('\x30', element('\x02', "\x01") + element('\x31', "") +
                          encapsulated + element('\x31', ""));
  return element('\x30', element('\x06', oid + "\x02") + element('\xa0', data));
}

const std::string kValid =
    "The manifest is signed by Tessarin, Inc and valid until "
    "2026-12-10T10:00:00Z.\r\n";
const std::string kNotPublisher =
    "The manifest is not signed by Tessarin, Inc.\r\n";
const std::string kNoExpiry =
    "The signed manifest names no valid expiry (one expires element, "
    "YYYY-MM-DDTHH:MM:SSZ).\r\n";
const std::string kUntrusted =
    "The manifest's signer certificate is not trusted for code signing.\r\n";
const std::string kNotDownloaded =
    "The manifest's signature (update.xml.p7s) could not be downloaded.\r\n";

std::vector<TrustCase> cases() {
  const std::int64_t now = kExpiry - 86400;
  return {
      {"UnsignedUsedAsToday", 22, false, kExpires, kExpiry + 999999, asIs, true,
       true, ""},
      {"UnsignedRequired", 22, true, kExpires, now, asIs, false, true,
       "The manifest is not signed (no update.xml.p7s is served) and a signed "
       "manifest is required.\r\n"},
      {"SignatureOverTheLimit", 63, false, kExpires, now, asIs, false, true,
       kNotDownloaded},
      {"EmptySignature", -1, false, kExpires, now, asIs, false, true,
       kNotDownloaded},
      {"NetworkFailed", 7, false, kExpires, now, asIs, false, false,
       kNotDownloaded},
      {"Valid", 0, false, kExpires, now, asIs, true, true, kValid},
      {"ValidWithinTheSkew", 0, true, kExpires,
       kExpiry + kManifestClockSkewSeconds, asIs, true, true, kValid},
      {"ExpiredPastTheSkew", 0, false, kExpires,
       kExpiry + kManifestClockSkewSeconds + 1, asIs, false, true,
       "The manifest expired at 2026-12-10T10:00:00Z.\r\n"},
      {"DoesNotVerify", 0, false, kExpires, now,
       [](auto& s) {
         s.verified = false;
         s.error = 0x80091007u;
       },
       false, true,
       "The manifest's signature does not verify over update.xml (error "
       "0x80091007).\r\n"},
      {"RootNotTrusted", 0, false, kExpires, now,
       [](auto& s) { s.signerChain.rootInStore = false; }, false, true,
       kUntrusted},
      {"NotForCodeSigning", 0, false, kExpires, now,
       [](auto& s) { s.signerChain.usageAllowed = false; }, false, true,
       kUntrusted},
      {"OtherPublisher", 0, false, kExpires, now,
       [](auto& s) { s.signer.organisations = {L"Tessarin, Incx"}; }, false,
       true, kNotPublisher},
      {"ForgedTwinOfTheSigner", 0, false, kExpires, now,
       [](auto& s) { s.signer.certificatesWithSignerId = 2; }, false, true,
       kNotPublisher},
      {"CarriesOtherContent", 0, false, kExpires, now, asIs, false, true,
       "The manifest's signature is not a detached signature (it carries "
       "content of its own).\r\n",
       "\xa0\x03\x04\x01X"},
      {"SignedWithoutExpiry", 0, false, "", now, asIs, false, true, kNoExpiry},
      {"SignedWithTwoExpiries", 0, false,
       kExpires + "<expires>2099-01-01T00:00:00Z</expires>", now, asIs, false,
       true, kNoExpiry},
      {"SignedWithAnOffset", 0, false,
       "<expires>2026-12-10T10:00:00+14:00</expires>", now, asIs, false, true,
       kNoExpiry},
  };
}

class ManifestTrustTest : public testing_support::PlatformTableTest<TrustCase> {
};

TEST_P(ManifestTrustTest, JudgesTheBytesRead) {
  const TrustCase& c = GetParam();
  testing_support::TempDir dir;
  const std::string xml = "<installerInformation><version>6.1.33.0</version>" +
                          c.expires + "</installerInformation>\n";
  testing_support::writeFile(dir.file("update.xml"), xml);
  const Manifest manifest = Manifest::load(dir.wpath() + L"\\update.xml");
  c.answer(fake::detachedSignature().answer);
  Transfer fetched;
  fetched.ok = c.code == 0;
  fetched.code = c.code < 0 ? 0 : c.code;

  const std::string signature = signedData(c.content);
  const ManifestTrust trust =
      judgeManifest(manifest, fetched, signature, c.required, c.now);
  EXPECT_EQ(trust.usable, c.usable);
  EXPECT_EQ(trust.entry, c.entry);
  if (!trust.usable) {
    EXPECT_EQ(trust.releaseFault, c.releaseFault);
  }
  EXPECT_EQ(trust.valid, c.usable && c.code == 0);
  if (c.code == 0) {
    ASSERT_EQ(fake::detachedSignature().calls.size(), 1u);
    EXPECT_EQ(fake::detachedSignature().calls[0].first, signature);
    EXPECT_EQ(fake::detachedSignature().calls[0].second, xml);
  } else {
    EXPECT_TRUE(fake::detachedSignature().calls.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ManifestTrustTest, ::testing::ValuesIn(cases()),
                         testing_support::CaseName());

}  // namespace
