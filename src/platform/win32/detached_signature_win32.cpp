#include <windows.h>
// Include order matters: wincrypt.h needs windows.h first.
#include <wincrypt.h>

#include <cstring>

#include "platform/detached_signature.h"
#include "platform/win32/certificates_win32.h"

namespace platform {

namespace {

struct MessageKind {
  using Type = HCRYPTMSG;
  static void release(HCRYPTMSG message) { CryptMsgClose(message); }
};

// How many certificates of `store` carry the id in `id`.
int countWithId(HCERTSTORE store, const CERT_INFO* id) {
  int count = 0;
  const CERT_CONTEXT* found = nullptr;
  while ((found = CertFindCertificateInStore(
              store, kMessageEncoding, 0, CERT_FIND_SUBJECT_CERT, id, found)) !=
         nullptr) {
    ++count;
  }
  return count;
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
    OwnedLocal owner;
    const auto* digest = decodeObject<CRYPT_DATA_BLOB>(
        X509_OCTET_STRING, attribute.rgValue[0], owner);
    if (digest == nullptr) return false;
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
  const Owned<MessageKind> message(CryptMsgOpenToDecode(
      kMessageEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
  if (!message ||
      !CryptMsgUpdate(message.get(),
                      reinterpret_cast<const BYTE*>(signature.data()),
                      static_cast<DWORD>(signature.size()), TRUE) ||
      !CryptMsgUpdate(message.get(),
                      reinterpret_cast<const BYTE*>(content.data()),
                      static_cast<DWORD>(content.size()), TRUE)) {
    result.error = GetLastError();
    return result;
  }
  DWORD type = 0;
  DWORD size = sizeof type;
  DWORD signers = 0;
  DWORD signersSize = sizeof signers;
  if (!CryptMsgGetParam(message.get(), CMSG_TYPE_PARAM, 0, &type, &size) ||
      type != CMSG_SIGNED ||
      !CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers,
                        &signersSize) ||
      signers != 1) {
    result.error = static_cast<std::uint32_t>(CRYPT_E_UNEXPECTED_MSG_TYPE);
    return result;
  }
  // The signer info's issuer and serial number, as a CERT_INFO to look the
  // certificate up by.
  const std::string id =
      messageParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM);
  const auto* signerInfo = reinterpret_cast<const CERT_INFO*>(id.data());
  const Owned<CertStoreKind> carried(CertOpenStore(
      CERT_STORE_PROV_MSG, kMessageEncoding, 0, 0, message.get()));
  const Owned<CertContextKind> signer(
      id.size() < sizeof(CERT_INFO) || !carried
          ? nullptr
          : CertFindCertificateInStore(carried.get(), kMessageEncoding, 0,
                                       CERT_FIND_SUBJECT_CERT, signerInfo,
                                       nullptr));
  if (!signer) {
    result.error = static_cast<std::uint32_t>(CRYPT_E_SIGNER_NOT_FOUND);
    return result;
  }
  result.signer.known = true;
  readSubjectNames(*signer->pCertInfo, &result.signer.organisations,
                   &result.signer.commonNames);
  result.signer.certificatesWithSignerId =
      countWithId(carried.get(), signerInfo);
  result.signerChain =
      examineChain(signer.get(), carried.get(), szOID_PKIX_KP_CODE_SIGNING);
  // The signature itself: with the key of the certificate just found, over
  // the content given above (with the signed attributes' digest checked).
  if (!CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE,
                       signer->pCertInfo)) {
    result.error = GetLastError();
    return result;
  }
  if (!digestAttributeMatches(message.get())) {
    result.error = static_cast<std::uint32_t>(CRYPT_E_HASH_VALUE);
    return result;
  }
  result.verified = true;
  return result;
}

}  // namespace platform
