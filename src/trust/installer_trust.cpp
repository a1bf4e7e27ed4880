#include "trust/installer_trust.h"

#include <cstddef>
#include <cstdio>

#include "common/text.h"
#include "config/logger.h"
#include "platform/trust.h"
#include "trust/certificate_chain.h"

namespace {

enum : std::uint32_t {
  kNoSignature = 0x800B0100u,         // TRUST_E_NOSIGNATURE
  kSubjectFormUnknown = 0x800B0003u,  // TRUST_E_SUBJECT_FORM_UNKNOWN
  kProviderUnknown = 0x800B0001u,     // TRUST_E_PROVIDER_UNKNOWN
  kExplicitDistrust = 0x800B0111u,    // TRUST_E_EXPLICIT_DISTRUST
  kSubjectNotTrusted = 0x800B0004u,   // TRUST_E_SUBJECT_NOT_TRUSTED
  kSecuritySettings = 0x80092026u,    // CRYPT_E_SECURITY_SETTINGS
};

// The message is rendered into a buffer of this many wide characters. A
// longer message (a very long path) is cut to what the buffer holds rather
// than left to the formatting function, whose overflow behaviour differs
// between C runtimes (an unterminated buffer on some).
constexpr std::size_t kMessageBuffer = 1000;

std::wstring errorIs(std::uint32_t code) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(code));
  return L"Error is: 0x" + tsdlm::widenBytes(digits) + L".\r\n";
}

// The message for one outcome of the trust provider. The last error only
// tells an unsigned file from another failure to read a signature; it is
// never printed.
std::wstring signatureMessage(const std::wstring& path, std::uint32_t status,
                              std::uint32_t lastError) {
  switch (status) {
    case 0:
      return L"The file \"" + path + L"\" is signed.\r\n";
    case kNoSignature:
      if (lastError == kNoSignature || lastError == kSubjectFormUnknown ||
          lastError == kProviderUnknown) {
        return L"The file \"" + path + L"\" is not signed. " +
               errorIs(kNoSignature);
      }
      return L"An unknown error occurred trying to verify the signature of "
             L"the \"" +
             path + L"\" file. " + errorIs(kNoSignature);
    case kExplicitDistrust:
      return L"The signature is present, but specifically disallowed. " +
             errorIs(status);
    case kSubjectNotTrusted:
      return L"The signature is present, but not trusted. " + errorIs(status);
    case kSecuritySettings:
      return L"CRYPT_E_SECURITY_SETTINGS - The hash representing the subject "
             L"or the publisher wasn't explicitly trusted by the admin and "
             L"admin policy has disabled user trust. No signature, publisher "
             L"or timestamp errors. " +
             errorIs(status);
    default:
      return errorIs(status);
  }
}

std::string publisherMessage(const std::wstring& subject, bool found) {
  return "A certificate with a subject name [" + tsdlm::narrowLow8(subject) +
         (found ? "] has been found!\r\n" : "] can not be found!\r\n");
}

// An ordinary entry for a check that passed, an error entry otherwise; its
// text is handed to `entry` when given.
void logOutcome(const std::string& text, bool passed, std::string* entry) {
  if (passed) {
    Logger::instance().write(text);
  } else {
    Logger::instance().writeError(text);
  }
  if (entry != nullptr) *entry = text;
}

}  // namespace

std::int32_t verifySignature(const std::wstring& path, platform::HeldFile& file,
                             platform::SignerIdentity& signer,
                             std::string* entry) {
  const platform::FileTrust trust = platform::verifyFileTrust(path, file);
  auto status = static_cast<std::uint32_t>(trust.status);
  signer = trust.signer;
  // The provider's yes is not the last word: the signer's chain must end in
  // a root this machine trusts, every signature in it valid. (Wine's
  // provider accepts a self-made root, even one named like an installed
  // one.) Anything else is an untrusted signature.
  if (status == 0 && judgeChain(trust.signerChain, ChainUse::kCodeSigning) !=
                         ChainVerdict::kTrusted) {
    status = kSubjectNotTrusted;
  }

  std::wstring message = signatureMessage(path, status, trust.lastError);
  if (message.size() > kMessageBuffer - 1) message.resize(kMessageBuffer - 1);
  logOutcome(tsdlm::narrowLow8(message), status == 0, entry);
  return static_cast<std::int32_t>(status);
}

bool isPublisherName(const std::wstring& value, const std::wstring& subject) {
  std::wstring wanted = tsdlm::lowerAsciiLetters(subject);
  std::wstring given = tsdlm::lowerAsciiLetters(value);
  if (given.size() == wanted.size() + 1 && given.back() == L'.')
    given.pop_back();
  return !wanted.empty() && given == wanted;
}

bool verifyPublisher(const platform::SignerIdentity& signer,
                     const std::wstring& subject, std::string* entry) {
  // Only the certificate that made the signature counts, as the provider
  // itself identified it: a signature may carry any certificates besides.
  // A second certificate with the signer's issuer and serial number is a
  // forgery travelling with the real one (which of the two a provider takes
  // as the signer differs between platforms), so it fails the check whatever
  // either one says.
  if (!signer.known) return false;
  bool found = false;
  if (signer.certificatesWithSignerId <= 1) {
    for (const auto* names : {&signer.organisations, &signer.commonNames}) {
      for (const std::wstring& name : *names) {
        if (isPublisherName(name, subject)) found = true;
      }
    }
  }
  logOutcome(publisherMessage(subject, found), found, entry);
  return found;
}
