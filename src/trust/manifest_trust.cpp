#include "trust/manifest_trust.h"

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
  if (!signer.organisations.empty()) return tsdlm::narrowLow8(signer.organisations[0]);
  if (!signer.commonNames.empty()) return tsdlm::narrowLow8(signer.commonNames[0]);
  return std::string();
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
    return refused(trust, "The manifest is not signed (no update.xml.p7s is served) "
                          "and a signed manifest is required.");
  }
  if (!fetched) {
    trust.summary = "the signature could not be downloaded";
    // A body over the limit (or an empty one) is the server's doing; the
    // network's failures are not.
    const bool served = fetched.code == 0 || fetched.code == 23 || fetched.code == 63;
    return refused(trust, "The manifest's signature (update.xml.p7s) could not be "
                          "downloaded.", served);
  }
  trust.present = true;
  const platform::DetachedSignature checked =
      platform::verifyDetachedSignature(signature, manifest.bytes());
  trust.signer = signerName(checked.signer);
  trust.summary = "signed by " + (trust.signer.empty() ? "(unknown)" : trust.signer) +
                  ", expires " + (expiry.text.empty() ? "(none)" : expiry.text);
  if (!checked.verified) {
    return refused(trust, "The manifest's signature does not verify over update.xml "
                          "(error 0x" + hex8(checked.error) + ").");
  }
  if (judgeChain(checked.signerChain, ChainUse::kCodeSigning) != ChainVerdict::kTrusted) {
    return refused(trust, "The manifest's signer certificate is not trusted for "
                          "code signing.");
  }
  if (!verifyPublisher(checked.signer, kExpectedPublisher)) {
    return refused(trust, "The manifest is not signed by " +
                              tsdlm::narrowLow8(kExpectedPublisher) + ".");
  }
  if (!expiry.valid) {
    return refused(trust, "The signed manifest names no valid expiry (one expires "
                          "element, YYYY-MM-DDTHH:MM:SSZ).");
  }
  if (now > expiry.seconds + kManifestClockSkewSeconds) {
    return refused(trust, "The manifest expired at " + expiry.text + ".");
  }
  trust.valid = true;
  trust.entry = "The manifest is signed by " + trust.signer + " and valid until " +
                expiry.text + ".\r\n";
  return trust;
}
