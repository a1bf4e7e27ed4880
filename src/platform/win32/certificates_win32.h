// Certificate helpers shared by the Win32 trust and certificate layers.
#pragma once

#include <windows.h>
// Include order matters: wincrypt.h needs windows.h first.
#include <wincrypt.h>

#include <string>
#include <vector>

#include "platform/certificates.h"
#include "platform/win32/owned.h"

namespace platform {

// The encodings of certificates and of the signed messages that carry them.
constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A signed message's parameter `type` (entry `index`) as bytes; empty when
// it cannot be had.
std::string messageParam(HCRYPTMSG message, DWORD type, DWORD index = 0);

// `encoded` decoded as `type` into memory the API allocates, which `owner`
// then frees; null when it cannot be decoded.
template <typename Decoded>
const Decoded* decodeObject(const char* type, const CRYPT_DATA_BLOB& encoded,
                            OwnedLocal& owner) {
  Decoded* decoded = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, encoded.pbData,
                           encoded.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                           &decoded, &size)) {
    return nullptr;
  }
  owner.reset(decoded);
  return decoded;
}

// Builds the chain of `end` for the extended key usage `usage` (an OID such
// as szOID_PKIX_KP_CODE_SIGNING) with the system's chain engine, offering
// the certificates of `extra` (may be null) as intermediates, and checks
// each link, the end certificate's usage and the root itself against the
// Root stores.
CertificateChain examineChain(const CERT_CONTEXT* end, HCERTSTORE extra,
                              const char* usage);

// The O and CN values of a certificate's subject, every attribute of the
// two types, in order, each rendered on its own (so a name split over two
// attributes never reads as one). Either output may be null.
void readSubjectNames(const CERT_INFO& certificate,
                      std::vector<std::wstring>* organisations,
                      std::vector<std::wstring>* commonNames);

}  // namespace platform
