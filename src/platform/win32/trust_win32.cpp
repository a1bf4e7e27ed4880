#include <windows.h>
// Include order matters: the trust headers need windows.h first.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/trust.h"

namespace platform {

// The provider keeps its state in hWVTStateData and wants the very same data
// back for the close call, so the records live on the heap between the calls.
struct TrustState {
  std::wstring path;
  WINTRUST_FILE_INFO file{};
  // The structure as the provider has known it since Windows 8 ends with
  // pSignatureSettings; some SDK headers stop before that member, so the
  // record is followed by zeroed room for it and its size is given
  // explicitly.
  struct {
    WINTRUST_DATA data;
    void* signatureSettings;
  } trust{};
};

namespace {

constexpr DWORD kTrustDataSize =
    static_cast<DWORD>(offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD) +
                       sizeof(void*));
static_assert(sizeof(void*) != 4 || kTrustDataSize == 52,
              "WINTRUST_DATA with pSignatureSettings is 52 bytes on x86");

LONG callProvider(TrustState& state) {
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return WinVerifyTrust(nullptr, &action, &state.trust.data);
}

struct StoreCloser {
  void operator()(void* store) const {
    CertCloseStore(static_cast<HCERTSTORE>(store), 0);
  }
};
struct MessageCloser {
  void operator()(void* message) const {
    CryptMsgClose(static_cast<HCRYPTMSG>(message));
  }
};
using Store = std::unique_ptr<void, StoreCloser>;
using Message = std::unique_ptr<void, MessageCloser>;

// The first signer's issuer and serial number, or false when the message
// names no signer.
bool readSigner(HCRYPTMSG message, std::vector<BYTE>& buffer,
                const CMSG_SIGNER_INFO*& signer) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) ||
      size < sizeof(CMSG_SIGNER_INFO)) {
    return false;
  }
  buffer.assign(size, 0);
  if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(),
                        &size)) {
    return false;
  }
  signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
  return true;
}

}  // namespace

FileTrust verifyFileTrust(const std::wstring& path) {
  auto state = std::make_unique<TrustState>();
  state->path = path;
  state->file.cbStruct = sizeof(WINTRUST_FILE_INFO);
  state->file.pcwszFilePath = state->path.c_str();
  state->file.hFile = nullptr;
  state->file.pgKnownSubject = nullptr;

  WINTRUST_DATA& data = state->trust.data;
  data.cbStruct = kTrustDataSize;
  data.pPolicyCallbackData = nullptr;
  data.pSIPClientData = nullptr;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &state->file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.hWVTStateData = nullptr;
  data.pwszURLReference = nullptr;
  data.dwProvFlags = 0;
  data.dwUIContext = 0;

  FileTrust result;
  result.status = static_cast<std::int32_t>(callProvider(*state));
  result.lastError = GetLastError();
  result.state = state.release();
  return result;
}

void closeFileTrust(FileTrust& trust) {
  std::unique_ptr<TrustState> state(trust.state);
  trust.state = nullptr;
  if (!state) return;
  state->trust.data.dwStateAction = WTD_STATEACTION_CLOSE;
  (void)callProvider(*state);
}

SignerSubjectMatch findSignerSubject(const std::wstring& path,
                                     const std::wstring& subject) {
  DWORD encoding = 0;
  DWORD contentType = 0;
  DWORD formatType = 0;
  HCERTSTORE rawStore = nullptr;
  HCRYPTMSG rawMessage = nullptr;
  const BOOL queried = CryptQueryObject(
      CERT_QUERY_OBJECT_FILE, path.c_str(),
      CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
      0, &encoding, &contentType, &formatType, &rawStore, &rawMessage, nullptr);
  Store store(rawStore);
  Message message(rawMessage);
  if (!queried || !store || !message) {
    return SignerSubjectMatch::kNoEmbeddedSignature;
  }

  std::vector<BYTE> signerBuffer;
  const CMSG_SIGNER_INFO* signer = nullptr;
  if (!readSigner(rawMessage, signerBuffer, signer)) {
    return SignerSubjectMatch::kNotFound;
  }
  CERT_INFO signerId{};
  signerId.Issuer = signer->Issuer;
  signerId.SerialNumber = signer->SerialNumber;

  // The name search itself is the platform's (simple name string,
  // case-insensitive substring). A match counts only when it is the
  // certificate that made the signature: the one the signer info names by
  // issuer and serial number, and whose key verifies the signature. The
  // second test keeps out a forged copy that reuses the signer's issuer and
  // serial number with another subject. The search frees the previous
  // context at each step.
  const CERT_CONTEXT* candidate = nullptr;
  while ((candidate = CertFindCertificateInStore(
              rawStore, encoding, 0, CERT_FIND_SUBJECT_STR_W, subject.c_str(),
              candidate)) != nullptr) {
    if (!CertCompareCertificate(encoding, candidate->pCertInfo, &signerId)) {
      continue;
    }
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify{};
    verify.cbSize = sizeof verify;
    verify.hCryptProv = 0;
    verify.dwSignerIndex = 0;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(candidate);
    if (CryptMsgControl(rawMessage, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX,
                        &verify)) {
      CertFreeCertificateContext(candidate);
      return SignerSubjectMatch::kFound;
    }
  }
  return SignerSubjectMatch::kNotFound;
}

}  // namespace platform
