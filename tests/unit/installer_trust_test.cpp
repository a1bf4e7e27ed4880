// The signature and publisher checks: which entry each answer of the trust
// provider gives, byte for byte, and the release of the provider's state.
#include "trust/installer_trust.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "config/logger.h"
#include "fakes/fake_platform.h"
#include "unit/process_log.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using platform::SignerIdentity;
using testing_support::ProcessLog;

const std::wstring kPath =
    L"C:\\users\\u\\Temp\\TsDLM\\TessarinDownloadManagerSetup.exe";
const std::string kNarrowPath =
    "C:\\users\\u\\Temp\\TsDLM\\TessarinDownloadManagerSetup.exe";

constexpr std::uint32_t kNoSignature = 0x800B0100u;
constexpr std::uint32_t kSubjectFormUnknown = 0x800B0003u;
constexpr std::uint32_t kProviderUnknown = 0x800B0001u;
constexpr std::uint32_t kExplicitDistrust = 0x800B0111u;
constexpr std::uint32_t kSubjectNotTrusted = 0x800B0004u;
constexpr std::uint32_t kSecuritySettings = 0x80092026u;
constexpr std::uint32_t kBadDigest = 0x80096010u;

std::int32_t asStatus(std::uint32_t code) {
  return static_cast<std::int32_t>(code);
}

// The signature check on a held file of that name.
std::int32_t verifyHeld(const std::wstring& path,
                        SignerIdentity* signer = nullptr) {
  const platform::HeldFileHandle file = fake::holdAny(path);
  SignerIdentity ignored;
  return verifySignature(path, *file, signer != nullptr ? *signer : ignored);
}

class TrustLogTest : public testing_support::PlatformTest {
 protected:
  // The log since the mark as one entry: the timestamp, then `text`.
  static std::string entry(const std::string& text) {
    return Logger::timestamp() + text;
  }
};

struct SignatureCase {
  const char* name;
  std::uint32_t status;
  std::uint32_t lastError;
  std::string logged;  // after the timestamp
  std::wstring path = kPath;
};

class SignatureMessageTest
    : public TrustLogTest,
      public ::testing::WithParamInterface<SignatureCase> {};

TEST_P(SignatureMessageTest, OneEntryChosenByStatusAndStatusReturned) {
  const std::wstring& path = GetParam().path;
  fake::trust().files[path] = {asStatus(GetParam().status),
                               GetParam().lastError};

  EXPECT_EQ(verifyHeld(path), asStatus(GetParam().status));

  EXPECT_EQ(ProcessLog::sinceMark(), entry(GetParam().logged));
  EXPECT_EQ(fake::trust().verified, std::vector<std::wstring>{path});
}

const std::string kUnknown =
    "[ERROR] An unknown error occurred trying to verify the signature of the "
    "\"" +
    kNarrowPath + "\" file. Error is: 0x800b0100.\r\n";
const std::string kNotSigned = "[ERROR] The file \"" + kNarrowPath +
                               "\" is not signed. Error is: 0x800b0100.\r\n";

const SignatureCase kSignatures[] = {
    {"Valid", 0, 0, "The file \"" + kNarrowPath + "\" is signed.\r\n"},
    // The last error is not looked at for a valid signature.
    {"ValidWithStaleLastError", 0, kNoSignature,
     "The file \"" + kNarrowPath + "\" is signed.\r\n"},
    {"NotSigned", kNoSignature, kNoSignature, kNotSigned},
    {"NotSignedUnknownForm", kNoSignature, kSubjectFormUnknown, kNotSigned},
    {"NotSignedUnknownProvider", kNoSignature, kProviderUnknown, kNotSigned},
    {"NoSignatureLastErrorZero", kNoSignature, 0, kUnknown},
    {"NoSignatureOtherLastError", kNoSignature, 5, kUnknown},
    {"NoSignatureBadDigestLastError", kNoSignature, kBadDigest, kUnknown},
    {"ExplicitDistrust", kExplicitDistrust, 0,
     "[ERROR] The signature is present, but specifically "
     "disallowed. Error is: 0x800b0111.\r\n"},
    // Only the "no signature" status consults the last error.
    {"DistrustWithNoSignatureLastError", kExplicitDistrust, kNoSignature,
     "[ERROR] The signature is present, but specifically "
     "disallowed. Error is: 0x800b0111.\r\n"},
    {"SubjectNotTrusted", kSubjectNotTrusted, 0,
     "[ERROR] The signature is present, but not trusted. Error "
     "is: 0x800b0004.\r\n"},
    {"SecuritySettings", kSecuritySettings, 0,
     "[ERROR] CRYPT_E_SECURITY_SETTINGS - The hash representing "
     "the subject or the publisher wasn't explicitly trusted by "
     "the admin and admin policy has disabled user trust. No "
     "signature, publisher or timestamp errors. Error is: "
     "0x80092026.\r\n"},
    {"BadDigest", kBadDigest, kBadDigest, "[ERROR] Error is: 0x80096010.\r\n"},
    {"UnknownProviderAsStatus", kProviderUnknown, 0,
     "[ERROR] Error is: 0x800b0001.\r\n"},
    // "%x": no leading zeros, lower case.
    {"SmallStatus", 0x1u, 0, "[ERROR] Error is: 0x1.\r\n"},
    {"PositiveStatus", 0x7fffabcdu, 0, "[ERROR] Error is: 0x7fffabcd.\r\n"},
    {"AllBits", 0xffffffffu, 0, "[ERROR] Error is: 0xffffffff.\r\n"},
    // U+00E9 keeps its byte; U+4E2D keeps 0x2D ("-"); U+0141 keeps 0x41 ("A").
    {"PathNarrowedToTheLowEightBits", 0, 0,
     "The file \"C:\\T\xe9mp\\-A.exe\" is signed.\r\n",
     L"C:\\T\u00e9mp\\\u4e2d\u0141.exe"},
    // The message is cut to its buffer of 999 characters; one of 999 is
    // whole.
    {"OverlongMessageIsCut", kNoSignature, kNoSignature,
     "[ERROR] The file \"C:\\" + std::string(986, 'a'),
     L"C:\\" + std::wstring(1200, L'a') + L".exe"},
    {"MessageThatJustFitsIsWhole", 0, 0,
     "The file \"" + std::string(975, 'b') + "\" is signed.\r\n",
     std::wstring(975, L'b')},
};

INSTANTIATE_TEST_SUITE_P(Table, SignatureMessageTest,
                         ::testing::ValuesIn(kSignatures),
                         testing_support::CaseName());

// The provider's yes (status 0) with a signer chain the updater's own check
// refuses: the entry and status of an untrusted signature.
class SignerChainTest : public TrustLogTest,
                        public ::testing::WithParamInterface<const char*> {};

TEST_P(SignerChainTest, ProvidersYesWithABadChainIsNotTrusted) {
  platform::CertificateChain& chain = fake::trust().files[kPath].chain;
  fake::trust().files[kPath].status = 0;
  const std::string which = GetParam();
  if (which == "UntrustedRoot") chain.rootInStore = false;
  if (which == "PartialChain") chain.rootSelfIssued = false;
  if (which == "BadSignature") chain.elements[1].signatureValid = false;
  if (which == "SystemFailed") chain = platform::CertificateChain{};

  EXPECT_EQ(verifyHeld(kPath), asStatus(kSubjectNotTrusted));

  EXPECT_EQ(
      ProcessLog::sinceMark(),
      entry("[ERROR] The signature is present, but not trusted. Error is: "
            "0x800b0004.\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Table, SignerChainTest,
                         ::testing::Values("UntrustedRoot", "PartialChain",
                                           "BadSignature", "SystemFailed"));

TEST_F(TrustLogTest, SignerComesFromTheVerificationOfTheHeldFile) {
  SignerIdentity tessarin;
  tessarin.known = true;
  tessarin.organisations = {L"Tessarin, Inc"};
  tessarin.certificatesWithSignerId = 1;
  fake::trust().files[kPath] = {0, 0};
  fake::trust().signers[kPath] = tessarin;
  SignerIdentity signer;
  (void)verifyHeld(kPath, &signer);
  EXPECT_TRUE(signer.known);
  EXPECT_EQ(signer.organisations, tessarin.organisations);
  // Another file's verification reports its own signer (none here).
  (void)verifyHeld(L"C:\\other.exe", &signer);
  EXPECT_FALSE(signer.known);
  EXPECT_EQ(fake::trust().verified,
            (std::vector<std::wstring>{kPath, L"C:\\other.exe"}));
}

struct PublisherCase {
  const char* name;
  std::vector<std::wstring> organisations;
  std::vector<std::wstring> commonNames;
  int withSignerId;  // certificates in the bag with the signer's issuer and
                     // serial
  bool result;
};

class PublisherTest : public TrustLogTest,
                      public ::testing::WithParamInterface<PublisherCase> {};

const std::string kFound =
    "A certificate with a subject name [Tessarin, Inc] has been found!\r\n";
const std::string kNotFound =
    "[ERROR] A certificate with a subject name [Tessarin, Inc] can not be "
    "found!\r\n";

TEST_P(PublisherTest, OnlyTheSignersOwnExactNameCounts) {
  SignerIdentity signer;
  signer.known = true;
  signer.organisations = GetParam().organisations;
  signer.commonNames = GetParam().commonNames;
  signer.certificatesWithSignerId = GetParam().withSignerId;

  EXPECT_EQ(verifyPublisher(signer, L"Tessarin, Inc"), GetParam().result);

  EXPECT_EQ(ProcessLog::sinceMark(),
            entry(GetParam().result ? kFound : kNotFound));
}

const PublisherCase kPublishers[] = {
    {"Organisation", {L"Tessarin, Inc"}, {L"Build Signing"}, 1, true},
    {"CommonNameWithFullStop", {}, {L"Tessarin, Inc."}, 1, true},
    {"LetterCase", {L"TESSARIN, INC"}, {}, 1, true},
    {"SecondOrganisationAttribute", {L"Other", L"tessarin, inc."}, {}, 1, true},
    {"LookAlike",
     {L"Tessarin, Incubator Ltd"},
     {L"Tessarin, Incubator Ltd"},
     1,
     false},
    {"Prefix", {L"Tessarin, In"}, {}, 1, false},
    {"TwoFullStops", {L"Tessarin, Inc.."}, {}, 1, false},
    {"Padded", {L" Tessarin, Inc"}, {L"Tessarin, Inc "}, 1, false},
    // "Tessarin" and "Inc" only read as the name when rendered together.
    {"SplitOverTwoAttributes", {L"Tessarin"}, {L"Inc"}, 1, false},
    {"OtherAttributesOnly", {}, {}, 1, false},
    // A forged copy with the signer's issuer and serial travels along.
    {"TwinInTheBag", {L"Tessarin, Inc"}, {L"Tessarin, Inc"}, 2, false},
};

INSTANTIATE_TEST_SUITE_P(Table, PublisherTest, ::testing::ValuesIn(kPublishers),
                         testing_support::CaseName());

TEST_F(TrustLogTest, UnknownSignerIsRefusedWithoutEntry) {
  SignerIdentity none;
  none.organisations = {L"Tessarin, Inc"};
  EXPECT_FALSE(verifyPublisher(none, L"Tessarin, Inc"));
  EXPECT_EQ(ProcessLog::sinceMark(), "");
}

TEST_F(TrustLogTest, PublisherSubjectIsLoggedAsGivenAndNarrowed) {
  SignerIdentity signer;
  signer.known = true;
  signer.commonNames = {L"tessarin, inc \u00c9\u4e2d"};
  EXPECT_TRUE(verifyPublisher(signer, L"TESSARIN, INC \u00c9\u4e2d"));
  EXPECT_EQ(
      ProcessLog::sinceMark(),
      entry("A certificate with a subject name [TESSARIN, INC \xc9-] has been "
            "found!\r\n"));
}

}  // namespace
