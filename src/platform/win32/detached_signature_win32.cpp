#include <windows.h>
// Include order matters: wincrypt.h needs windows.h first.
#include <wincrypt.h>

#include <cstring>

#include "platform/detached_signature.h"
#include "platform/win32/certificates_win32.h"

namespace platform {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct MessageCloser {
  HCRYPTMSG message;
  ~MessageCloser() {
    if (message != nullptr) CryptMsgClose(message);
  }
};

struct StoreCloser {
  HCERTSTORE store;
  ~StoreCloser() {
    if (store != nullptr) CertCloseStore(store, 0);
  }
};

struct CertificateFreer {
  const CERT_CONTEXT* certificate;
  ~CertificateFreer() {
    if (certificate != nullptr) CertFreeCertificateContext(certificate);
  }
};

// The signer info's issuer and serial number as a CERT_INFO to look the
// certificate up by (CERT_FIND_SUBJECT_CERT), in `buffer`.
bool signerId(HCRYPTMSG message, std::string& buffer) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr,
                        &size) ||
      size < sizeof(CERT_INFO)) {
    return false;
  }
  buffer.assign(size, '\0');
  return CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, &buffer[0],
                          &size) != FALSE;
}

// How many certificates of `store` carry the id in `id`.
int countWithId(HCERTSTORE store, const CERT_INFO* id) {
  int count = 0;
  const CERT_CONTEXT* found = nullptr;
  while ((found = CertFindCertificateInStore(
              store, kEncoding, 0, CERT_FIND_SUBJECT_CERT, id, found)) !=
         nullptr) {
    ++count;
  }
  return count;
}

// A message parameter's bytes (empty when it cannot be had).
std::string messageParam(HCRYPTMSG message, DWORD type) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, 0, nullptr, &size) || size == 0)
    return std::string();
  std::string bytes(size, '\0');
  if (!CryptMsgGetParam(message, type, 0, &bytes[0], &size))
    return std::string();
  bytes.resize(size);
  return bytes;
}

// With signed attributes, the signature covers them rather than the content:
// their messageDigest must then be the digest of the content given. Checked
// here, so that it holds whether or not the system's verification compares
// the two itself.
bool digestAttributeMatches(HCRYPTMSG message) {
  const std::string attributes =
      messageParam(message, CMSG_SIGNER_AUTH_ATTR_PARAM);
  if (attributes.empty()) {
    // No signed attributes (or none readable): the signature is over the
    // content's digest itself, which the verification checks.
    DWORD size = 0;
    return !CryptMsgGetParam(message, CMSG_SIGNER_AUTH_ATTR_PARAM, 0, nullptr,
                             &size) &&
           GetLastError() == static_cast<DWORD>(CRYPT_E_ATTRIBUTES_MISSING);
  }
  const auto* list =
      reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data());
  if (list->cAttr == 0) return true;  // as above (Wine answers an empty list)
  const std::string computed = messageParam(message, CMSG_COMPUTED_HASH_PARAM);
  int found = 0;
  bool matches = false;
  for (DWORD i = 0; i < list->cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = list->rgAttr[i];
    if (std::strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) != 0)
      continue;
    ++found;
    if (attribute.cValue != 1) return false;
    DWORD size = 0;
    const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
    if (!CryptDecodeObject(kEncoding, X509_OCTET_STRING, value.pbData,
                           value.cbData, 0, nullptr, &size)) {
      return false;
    }
    std::string decoded(size, '\0');
    if (!CryptDecodeObject(kEncoding, X509_OCTET_STRING, value.pbData,
                           value.cbData, 0, &decoded[0], &size)) {
      return false;
    }
    const auto* digest =
        reinterpret_cast<const CRYPT_DATA_BLOB*>(decoded.data());
    matches =
        !computed.empty() && digest->cbData == computed.size() &&
        std::memcmp(digest->pbData, computed.data(), computed.size()) == 0;
  }
  return found == 1 && matches;
}

}  // namespace

DetachedSignature verifyDetachedSignature(const std::string& signature,
                                          const std::string& content) {
  DetachedSignature result;
  if (signature.empty() || signature.size() > 0x7FFFFFFF ||
      content.size() > 0x7FFFFFFF) {
    result.error = static_cast<std::uint32_t>(CRYPT_E_ASN1_BADTAG);
    return result;
  }
  MessageCloser message{CryptMsgOpenToDecode(kEncoding, CMSG_DETACHED_FLAG, 0,
                                             0, nullptr, nullptr)};
  if (message.message == nullptr) {
    result.error = GetLastError();
    return result;
  }
  const auto* content_bytes = reinterpret_cast<const BYTE*>(content.data());
  if (!CryptMsgUpdate(message.message,
                      reinterpret_cast<const BYTE*>(signature.data()),
                      static_cast<DWORD>(signature.size()), TRUE) ||
      !CryptMsgUpdate(message.message, content_bytes,
                      static_cast<DWORD>(content.size()), TRUE)) {
    result.error = GetLastError();
    return result;
  }
  DWORD type = 0;
  DWORD size = sizeof type;
  DWORD signers = 0;
  DWORD signersSize = sizeof signers;
  if (!CryptMsgGetParam(message.message, CMSG_TYPE_PARAM, 0, &type, &size) ||
      type != CMSG_SIGNED ||
      !CryptMsgGetParam(message.message, CMSG_SIGNER_COUNT_PARAM, 0, &signers,
                        &signersSize) ||
      signers != 1) {
    result.error = static_cast<std::uint32_t>(CRYPT_E_UNEXPECTED_MSG_TYPE);
    return result;
  }
  std::string id;
  StoreCloser carried{
      CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.message)};
  if (!signerId(message.message, id) || carried.store == nullptr) {
    result.error = static_cast<std::uint32_t>(CRYPT_E_SIGNER_NOT_FOUND);
    return result;
  }
  const auto* signerInfo = reinterpret_cast<const CERT_INFO*>(id.data());
  CertificateFreer signer{CertFindCertificateInStore(carried.store, kEncoding,
                                                     0, CERT_FIND_SUBJECT_CERT,
                                                     signerInfo, nullptr)};
  if (signer.certificate == nullptr) {
    result.error = static_cast<std::uint32_t>(CRYPT_E_SIGNER_NOT_FOUND);
    return result;
  }
  result.signer.known = true;
  readSubjectNames(*signer.certificate->pCertInfo, &result.signer.organisations,
                   &result.signer.commonNames);
  result.signer.certificatesWithSignerId =
      countWithId(carried.store, signerInfo);
  result.signerChain = examineChain(signer.certificate, carried.store,
                                    szOID_PKIX_KP_CODE_SIGNING);
  // The signature itself: with the key of the certificate just found, over
  // the content given above (with the signed attributes' digest checked).
  if (!CryptMsgControl(message.message, 0, CMSG_CTRL_VERIFY_SIGNATURE,
                       signer.certificate->pCertInfo)) {
    result.error = GetLastError();
    return result;
  }
  if (!digestAttributeMatches(message.message)) {
    result.error = static_cast<std::uint32_t>(CRYPT_E_HASH_VALUE);
    return result;
  }
  result.verified = true;
  return result;
}

}  // namespace platform
