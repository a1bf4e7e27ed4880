// The manifest's own signature and expiry: a detached signature
// (update.xml.p7s) by the certificate that signs the installer, over the
// exact bytes of update.xml, and the expiry the manifest names.
#pragma once

#include <cstdint>
#include <string>

#include "download/http_downloader.h"
#include "manifest/manifest.h"

// A signed manifest is still taken this long after its expiry: a machine's
// clock that runs a little behind the release's is not a replay.
constexpr std::int64_t kManifestClockSkewSeconds = 60 * 60;

// A signature is a few kilobytes (the signer's chain included); a body past
// this fails its transfer.
constexpr std::uint64_t kManifestSignatureLimit = 64 * 1024;

struct ManifestTrust {
  // False: the manifest must not be used.
  bool usable = true;
  // For a refusal: the release is at fault (a signature that is wrong, an
  // expired manifest), not this machine or its network.
  bool releaseFault = true;
  bool required = false;  // a signature was required
  bool present = false;   // a signature was served
  bool valid = false;     // and it holds, expiry included
  std::string signer;     // the signer certificate's O (else CN), if known
  std::string expiry;     // the expiry as written, if any
  // What was found, for a report: "not signed", "signed by ..., expires ...".
  std::string summary;
  // The log entry (CR LF ended): a refusal's error entry, a valid
  // signature's ordinary entry; empty for an unsigned manifest that is used.
  std::string entry;
};

// The decision on `manifest`, whose signature transfer ended as `fetched`
// with the bytes `signature`, at `now` (seconds since 1970 UTC). A transfer
// refused with an HTTP error status means no signature is served: the
// manifest is used as it is, unless `required`. Any other failed transfer (a
// body over the limit, an empty one, the network) refuses the manifest. A
// served signature must verify over manifest.bytes(), its signer's chain
// must be trusted for code signing, its signer must be the publisher (by
// verifyPublisher, which logs its own entry), and the manifest must name one
// valid expiry that `now` has not passed by more than the skew. Never throws.
[[nodiscard]] ManifestTrust judgeManifest(const Manifest& manifest,
                                          const Transfer& fetched,
                                          const std::string& signature,
                                          bool required, std::int64_t now);

// The ending's log line of a run whose manifest was refused.
constexpr const char* kManifestRefusedLine =
    "Cannot use update.xml, return now\r\n";
