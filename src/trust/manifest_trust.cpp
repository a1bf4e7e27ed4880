#include "trust/manifest_trust.h"

#include <cstddef>
#include <cstdio>

#include "common/text.h"
#include "platform/detached_signature.h"
#include "trust/certificate_chain.h"
#include "trust/installer_trust.h"

namespace {

// libcurl's code for a transfer refused with an HTTP error status.
constexpr int kHttpErrorStatus = 22;

std::string hex8(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

std::string signerName(const platform::SignerIdentity& signer) {
  for (const auto* names : {&signer.organisations, &signer.commonNames}) {
    if (!names->empty()) return tsdlm::narrowLow8(names->front());
  }
  return std::string();
}

// Where the content of the DER element at `at` within [at, end) lies; false
// when it does not fit or its tag is not `tag`.
struct Element {
  std::size_t start = 0;
  std::size_t end = 0;
};
bool readElement(const std::string& der, std::size_t at, std::size_t end,
                 unsigned char tag, Element& out) {
  if (at + 2 > end || static_cast<unsigned char>(der[at]) != tag) return false;
  std::size_t length = static_cast<unsigned char>(der[at + 1]);
  std::size_t pos = at + 2;
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || pos + count > end) return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) {
      length = (length << 8) | static_cast<unsigned char>(der[pos + i]);
    }
    pos += count;
  }
  if (length > end - pos) return false;
  out.start = pos;
  out.end = pos + length;
  return true;
}

// True when the signature is a ContentInfo holding SignedData whose
// encapsulated content is absent: a detached signature. A signature that
// carries content of its own signs that content, whatever a verifier told
// to take it as detached does with it, so it is never taken for the
// manifest's.
bool isDetached(const std::string& der) {
  constexpr unsigned char kSequence = 0x30, kSet = 0x31, kInteger = 0x02,
                          kOid = 0x06, kExplicit0 = 0xA0;
  Element info, content, data, version, algorithms, encapsulated, type;
  return readElement(der, 0, der.size(), kSequence, info) &&
         info.end == der.size() &&
         readElement(der, info.start, info.end, kOid, type) &&
         readElement(der, type.end, info.end, kExplicit0, content) &&
         readElement(der, content.start, content.end, kSequence, data) &&
         readElement(der, data.start, data.end, kInteger, version) &&
         readElement(der, version.end, data.end, kSet, algorithms) &&
         readElement(der, algorithms.end, data.end, kSequence, encapsulated) &&
         readElement(der, encapsulated.start, encapsulated.end, kOid, type) &&
         type.end == encapsulated.end;  // no eContent after the type
}

ManifestTrust refused(ManifestTrust trust, const std::string& why,
                      bool releaseFault = true) {
  trust.usable = false;
  trust.valid = false;
  trust.releaseFault = releaseFault;
  trust.entry = why + "\r\n";
  return trust;
}

}  // namespace

ManifestTrust judgeManifest(const Manifest& manifest, const Transfer& fetched,
                            const std::string& signature, bool required,
                            std::int64_t now) {
  ManifestTrust trust;
  trust.required = required;
  const Manifest::Expiry expiry = manifest.getExpiry();
  trust.expiry = expiry.text;
  if (!fetched && fetched.code == kHttpErrorStatus) {
    trust.summary = "not signed";
    if (!required) return trust;
    return refused(trust,
                   "The manifest is not signed (no update.xml.p7s is served) "
                   "and a signed manifest is required.");
  }
  if (!fetched) {
    trust.summary = "the signature could not be downloaded";
    // A body over the limit (or an empty one) is the server's doing; the
    // network's failures are not.
    const bool served =
        fetched.code == 0 || fetched.code == 23 || fetched.code == 63;
    return refused(trust,
                   "The manifest's signature (update.xml.p7s) could not be "
                   "downloaded.",
                   served);
  }
  trust.present = true;
  const platform::DetachedSignature checked =
      platform::verifyDetachedSignature(signature, manifest.bytes());
  trust.signer = signerName(checked.signer);
  trust.summary = "signed by " +
                  (trust.signer.empty() ? "(unknown)" : trust.signer) +
                  ", expires " + (expiry.text.empty() ? "(none)" : expiry.text);
  if (!isDetached(signature)) {
    return refused(trust,
                   "The manifest's signature is not a detached signature "
                   "(it carries content of its own).");
  }
  if (!checked.verified) {
    return refused(trust,
                   "The manifest's signature does not verify over update.xml "
                   "(error 0x" +
                       hex8(checked.error) + ").");
  }
  if (judgeChain(checked.signerChain, ChainUse::kCodeSigning) !=
      ChainVerdict::kTrusted) {
    return refused(trust,
                   "The manifest's signer certificate is not trusted for "
                   "code signing.");
  }
  if (!verifyPublisher(checked.signer, kExpectedPublisher)) {
    return refused(trust, "The manifest is not signed by " +
                              tsdlm::narrowLow8(kExpectedPublisher) + ".");
  }
  if (!expiry.valid) {
    return refused(trust,
                   "The signed manifest names no valid expiry (one expires "
                   "element, YYYY-MM-DDTHH:MM:SSZ).");
  }
  if (now > expiry.seconds + kManifestClockSkewSeconds) {
    return refused(trust, "The manifest expired at " + expiry.text + ".");
  }
  trust.valid = true;
  trust.entry = "The manifest is signed by " + trust.signer +
                " and valid until " + expiry.text + ".\r\n";
  return trust;
}
