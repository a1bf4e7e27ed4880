#include "platform/win32/certificates_win32.h"

#define SECURITY_WIN32
#include <security.h>
#include <schannel.h>

#include <cstring>

namespace platform {

namespace {

using Store = Owned<CertStoreKind>;
using Certificate = Owned<CertContextKind>;

// `subject` names `issuer` as its issuer and its signature verifies with
// the issuer's public key.
bool issuedBy(const CERT_CONTEXT* subject, const CERT_CONTEXT* issuer) {
  return CertCompareCertificateName(X509_ASN_ENCODING,
                                    &subject->pCertInfo->Issuer,
                                    &issuer->pCertInfo->Subject) &&
         CryptVerifyCertificateSignatureEx(
             0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
             const_cast<CERT_CONTEXT*>(subject),
             CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
             const_cast<CERT_CONTEXT*>(issuer), 0, nullptr);
}

const CERT_EXTENSION* findExtension(const CERT_CONTEXT* certificate,
                                    const char* oid) {
  const CERT_INFO& info = *certificate->pCertInfo;
  return CertFindExtension(oid, info.cExtension, info.rgExtension);
}

bool isCertificateAuthority(const CERT_CONTEXT* certificate) {
  OwnedLocal owner;
  const CERT_EXTENSION* extension =
      findExtension(certificate, szOID_BASIC_CONSTRAINTS2);
  if (extension != nullptr) {
    const auto* constraints = decodeObject<CERT_BASIC_CONSTRAINTS2_INFO>(
        szOID_BASIC_CONSTRAINTS2, extension->Value, owner);
    return constraints != nullptr && constraints->fCA;
  }
  extension = findExtension(certificate, szOID_BASIC_CONSTRAINTS);
  const auto* constraints =
      extension == nullptr
          ? nullptr
          : decodeObject<CERT_BASIC_CONSTRAINTS_INFO>(szOID_BASIC_CONSTRAINTS,
                                                      extension->Value, owner);
  return constraints != nullptr && constraints->SubjectType.cbData > 0 &&
         (constraints->SubjectType.pbData[0] & CERT_CA_SUBJECT_FLAG) != 0;
}

// The certificate, byte for byte, is in the machine's or the user's Root
// store (or the machine's third-party roots). Looked up by its SHA-1, then
// compared whole.
bool inRootStore(const CERT_CONTEXT* certificate) {
  BYTE hash[20];
  DWORD size = sizeof hash;
  if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID,
                                         hash, &size)) {
    return false;
  }
  CRYPT_HASH_BLOB blob{size, hash};
  const struct {
    DWORD location;
    const wchar_t* name;
  } stores[] = {{CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"},
                {CERT_SYSTEM_STORE_CURRENT_USER, L"Root"},
                {CERT_SYSTEM_STORE_LOCAL_MACHINE, L"AuthRoot"}};
  for (const auto& where : stores) {
    const Store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                    where.location |
                                        CERT_STORE_OPEN_EXISTING_FLAG |
                                        CERT_STORE_READONLY_FLAG,
                                    where.name));
    if (!store) continue;
    const Certificate found(
        CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                   CERT_FIND_SHA1_HASH, &blob, nullptr));
    if (found && found->cbCertEncoded == certificate->cbCertEncoded &&
        std::memcmp(found->pbCertEncoded, certificate->pbCertEncoded,
                    certificate->cbCertEncoded) == 0) {
      return true;
    }
  }
  return false;
}

// The certificate's extended key usage extension names `usage`, or the
// certificate has none (then every usage is allowed).
bool allowsUsage(const CERT_CONTEXT* certificate, const char* usage) {
  const CERT_EXTENSION* extension =
      findExtension(certificate, szOID_ENHANCED_KEY_USAGE);
  if (extension == nullptr) return true;
  OwnedLocal owner;
  const auto* usages = decodeObject<CERT_ENHKEY_USAGE>(X509_ENHANCED_KEY_USAGE,
                                                       extension->Value, owner);
  for (DWORD i = 0; usages != nullptr && i < usages->cUsageIdentifier; ++i) {
    if (usages->rgpszUsageIdentifier[i] != nullptr &&
        std::strcmp(usages->rgpszUsageIdentifier[i], usage) == 0) {
      return true;
    }
  }
  return false;
}

std::string narrowAscii(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != L'\0'; ++text) {
    // A character outside printable ASCII never matches a host name.
    out += (*text > 0x20 && *text < 0x7f) ? static_cast<char>(*text) : '\0';
  }
  return out;
}

CertificateNames readNames(const CERT_CONTEXT* certificate) {
  CertificateNames names;
  const CERT_EXTENSION* extension =
      findExtension(certificate, szOID_SUBJECT_ALT_NAME2);
  names.hasAltNames = extension != nullptr;
  OwnedLocal owner;
  const auto* alt = extension == nullptr
                        ? nullptr
                        : decodeObject<CERT_ALT_NAME_INFO>(
                              X509_ALTERNATE_NAME, extension->Value, owner);
  for (DWORD i = 0; alt != nullptr && i < alt->cAltEntry; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = alt->rgAltEntry[i];
    if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
      names.dnsNames.push_back(narrowAscii(entry.pwszDNSName));
    } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
      names.ipAddresses.emplace_back(
          reinterpret_cast<const char*>(entry.IPAddress.pbData),
          entry.IPAddress.cbData);
    }
  }
  std::vector<std::wstring> commonNames;
  readSubjectNames(*certificate->pCertInfo, nullptr, &commonNames);
  for (const std::wstring& name : commonNames)
    names.commonNames.push_back(narrowAscii(name.c_str()));
  return names;
}

}  // namespace

std::string messageParam(HCRYPTMSG message, DWORD type, DWORD index) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, index, nullptr, &size) || size == 0)
    return std::string();
  std::string bytes(size, '\0');
  if (!CryptMsgGetParam(message, type, index, &bytes[0], &size))
    return std::string();
  bytes.resize(size);
  return bytes;
}

void readSubjectNames(const CERT_INFO& certificate,
                      std::vector<std::wstring>* organisations,
                      std::vector<std::wstring>* commonNames) {
  OwnedLocal owner;
  const auto* name =
      decodeObject<CERT_NAME_INFO>(X509_NAME, certificate.Subject, owner);
  if (name == nullptr) return;
  for (DWORD r = 0; r < name->cRDN; ++r) {
    const CERT_RDN& rdn = name->rgRDN[r];
    for (DWORD a = 0; a < rdn.cRDNAttr; ++a) {
      CERT_RDN_ATTR& attribute = rdn.rgRDNAttr[a];
      if (attribute.pszObjId == nullptr) continue;
      std::vector<std::wstring>* target = nullptr;
      if (std::strcmp(attribute.pszObjId, szOID_ORGANIZATION_NAME) == 0)
        target = organisations;
      if (std::strcmp(attribute.pszObjId, szOID_COMMON_NAME) == 0)
        target = commonNames;
      if (target == nullptr) continue;
      const DWORD length = CertRDNValueToStrW(attribute.dwValueType,
                                              &attribute.Value, nullptr, 0);
      if (length == 0) continue;
      std::wstring value(length, L'\0');
      const DWORD written = CertRDNValueToStrW(
          attribute.dwValueType, &attribute.Value, &value[0], length);
      value.resize(written > 0 ? written - 1 : 0);  // without the terminator
      target->push_back(value);
    }
  }
}

CertificateChain examineChain(const CERT_CONTEXT* end, HCERTSTORE extra,
                              const char* usage) {
  CertificateChain result;
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  char* usages[] = {const_cast<char*>(usage)};
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  const CERT_CHAIN_CONTEXT* built = nullptr;
  if (end == nullptr ||
      !CertGetCertificateChain(nullptr, end, nullptr, extra, &parameters, 0,
                               nullptr, &built) ||
      built == nullptr) {
    return result;
  }
  const Owned<CertChainKind> chain(built);
  // One simple chain: the end certificate's, without trust lists.
  if (chain->cChain != 1 || chain->rgpChain[0]->cElement == 0) return result;
  result.built = true;
  result.errorStatus = chain->TrustStatus.dwErrorStatus;
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  for (DWORD i = 0; i < simple.cElement; ++i) {
    const CERT_CONTEXT* certificate = simple.rgpElement[i]->pCertContext;
    const CERT_CONTEXT* issuer = i + 1 < simple.cElement
                                     ? simple.rgpElement[i + 1]->pCertContext
                                     : certificate;
    ChainElement element;
    element.signatureValid = issuedBy(certificate, issuer);
    element.isCa = isCertificateAuthority(certificate);
    result.elements.push_back(element);
  }
  const CERT_CONTEXT* root =
      simple.rgpElement[simple.cElement - 1]->pCertContext;
  result.rootSelfIssued =
      CertCompareCertificateName(X509_ASN_ENCODING, &root->pCertInfo->Issuer,
                                 &root->pCertInfo->Subject) != FALSE;
  result.rootInStore = inRootStore(root);
  result.usageAllowed = allowsUsage(end, usage);
  return result;
}

ServerCertificate examineServerCertificate(const TlsSession& session) {
  ServerCertificate server;
  if (!session.schannel || session.internals == nullptr) return server;
  const CERT_CONTEXT* remote = nullptr;
  if (QueryContextAttributesW(static_cast<CtxtHandle*>(session.internals),
                              SECPKG_ATTR_REMOTE_CERT_CONTEXT,
                              &remote) != SEC_E_OK ||
      remote == nullptr) {
    return server;
  }
  const Certificate end(remote);
  // The certificate's own store holds what the server sent besides it.
  server.chain =
      examineChain(end.get(), end->hCertStore, szOID_PKIX_KP_SERVER_AUTH);
  server.names = readNames(end.get());
  return server;
}

}  // namespace platform
