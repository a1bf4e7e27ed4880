#include <windows.h>
// Include order matters: the trust headers need windows.h first.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <cstring>

#include "platform/trust.h"
#include "platform/win32/certificates_win32.h"
#include "platform/win32/held_file_win32.h"

namespace platform {

namespace {

// The structure as the provider has known it since Windows 8 ends with
// pSignatureSettings; some SDK headers stop before that member, so the
// record is followed by zeroed room for it and its size is given explicitly.
struct TrustData {
  WINTRUST_DATA data;
  void* signatureSettings;
};

constexpr DWORD kTrustDataSize = static_cast<DWORD>(
    offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD) + sizeof(void*));
static_assert(sizeof(void*) != 4 || kTrustDataSize == 52,
              "WINTRUST_DATA with pSignatureSettings is 52 bytes on x86");

LONG callProvider(TrustData& trust) {
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return WinVerifyTrust(nullptr, &action, &trust.data);
}

bool sameBlob(const CRYPT_DATA_BLOB& a, const CRYPT_DATA_BLOB& b) {
  return a.cbData == b.cbData &&
         (a.cbData == 0 || std::memcmp(a.pbData, b.pbData, a.cbData) == 0);
}

// How many certificates of the signed message carry this issuer and serial
// number. Compared byte for byte, so that no two encodings of one name are
// told apart differently here than by the provider.
int countCertificatesWithId(HCRYPTMSG message, const CERT_NAME_BLOB& issuer,
                            const CRYPT_INTEGER_BLOB& serial) {
  DWORD count = 0;
  DWORD size = sizeof count;
  if (!CryptMsgGetParam(message, CMSG_CERT_COUNT_PARAM, 0, &count, &size)) {
    return 0;
  }
  int matches = 0;
  for (DWORD i = 0; i < count; ++i) {
    const std::string encoded = messageParam(message, CMSG_CERT_PARAM, i);
    if (encoded.empty()) continue;
    const Owned<CertContextKind> certificate(CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(encoded.data()),
        static_cast<DWORD>(encoded.size())));
    if (!certificate) continue;
    if (sameBlob(certificate->pCertInfo->Issuer, issuer) &&
        CertCompareIntegerBlob(&certificate->pCertInfo->SerialNumber,
                               const_cast<CRYPT_INTEGER_BLOB*>(&serial))) {
      ++matches;
    }
  }
  return matches;
}

// The signer as the provider's state for this verification has it: the
// certificate it built the signer's chain from, and the message it read.
// The chain is built anew from that certificate, with the certificates the
// message carries as the only intermediates offered.
SignerIdentity readSigner(HANDLE state, CertificateChain& chain) {
  SignerIdentity signer;
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
  if (provider == nullptr) return signer;
  CRYPT_PROVIDER_SGNR* sgnr =
      WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (sgnr == nullptr || sgnr->csCertChain == 0 ||
      sgnr->pasCertChain == nullptr || sgnr->pasCertChain[0].pCert == nullptr) {
    return signer;
  }
  const CERT_INFO& certificate = *sgnr->pasCertChain[0].pCert->pCertInfo;
  signer.known = true;
  readSubjectNames(certificate, &signer.organisations, &signer.commonNames);
  const Owned<CertStoreKind> carried(provider->hMsg != nullptr
                                         ? CertOpenStore(CERT_STORE_PROV_MSG,
                                                         kMessageEncoding, 0, 0,
                                                         provider->hMsg)
                                         : nullptr);
  chain = examineChain(sgnr->pasCertChain[0].pCert, carried.get(),
                       szOID_PKIX_KP_CODE_SIGNING);
  if (provider->hMsg != nullptr) {
    // The signer info names the signer by issuer and serial number; the
    // certificate the provider chose is one with that id.
    const CERT_NAME_BLOB& issuer =
        sgnr->psSigner != nullptr ? sgnr->psSigner->Issuer : certificate.Issuer;
    const CRYPT_INTEGER_BLOB& serial = sgnr->psSigner != nullptr
                                           ? sgnr->psSigner->SerialNumber
                                           : certificate.SerialNumber;
    signer.certificatesWithSignerId =
        countCertificatesWithId(provider->hMsg, issuer, serial);
  }
  return signer;
}

}  // namespace

FileTrust verifyFileTrust(const std::wstring& path, HeldFile& file) {
  WINTRUST_FILE_INFO info{};
  info.cbStruct = sizeof(WINTRUST_FILE_INFO);
  info.pcwszFilePath = path.c_str();
  info.hFile = file.handle.get();
  TrustData trust{};
  WINTRUST_DATA& data = trust.data;
  data.cbStruct = kTrustDataSize;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;

  FileTrust result;
  result.status = static_cast<std::int32_t>(callProvider(trust));
  result.lastError = GetLastError();
  if (data.hWVTStateData != nullptr) {
    // Read before the close call below releases the provider's state.
    result.signer = readSigner(data.hWVTStateData, result.signerChain);
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  (void)callProvider(trust);
  return result;
}

}  // namespace platform
