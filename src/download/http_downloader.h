// HTTP(S) transfers into files with libcurl.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "download/progress_callback.h"

class HttpDownloader {
 public:
  // The process-wide progress callback. Empty until getInstaller assigns it;
  // written and read on the worker thread only.
  static ProgressCallback progressCallback;

  // No limit on the size of a transfer's body.
  static constexpr std::uint64_t kNoLimit =
      std::numeric_limits<std::uint64_t>::max();
  // The manifest is a few hundred bytes; a body past this is not a manifest.
  static constexpr std::uint64_t kManifestLimit = 1024 * 1024;

  // Downloads the manifest into Util::getManifestPath and reads it into
  // memory (Manifest::load). False at once when update checks are switched
  // off.
  static bool getUpdateXml();
  // The same from `url`, whatever the settings' switch says.
  static bool fetchUpdateXml(const std::string& url);
  // Puts the installer the manifest offers at Util::getInstallerPath,
  // reusing an intact one of the same version. False at once when update
  // checks are switched off.
  static bool getInstaller(ProgressCallback progress);
  // Downloads the installer the manifest offers whatever the settings'
  // switch says, never reusing a file already there (the release check
  // judges what the server serves now). A download that fails leaves no
  // file behind.
  static bool downloadInstaller(ProgressCallback progress);

  // When set (the release check, whose console shows it), libcurl's verbose
  // output goes to the standard error stream through maskedTrace instead of
  // as libcurl writes it. Set before the first transfer.
  static bool maskTrace;
  // One piece of libcurl's verbose output as it is printed: "* " before an
  // information text, "< " and "> " before each header line received and
  // sent; the value of an Authorization or Proxy-Authorization header
  // replaced by "****"; other control characters than line ends and tabs
  // shown as "?"; "" for bodies and TLS data. `kind` is libcurl's
  // curl_infotype.
  static std::string maskedTrace(int kind, const std::string& data);
  // One transfer; logs "Download complete: <path>" on success. A body
  // larger than `maxBytes` fails the transfer as soon as it passes the limit
  // (or at once, when the server announces its length).
  static bool download(const std::string& url, const std::wstring& path,
                       std::uint64_t maxBytes = kNoLimit);
  // The transfer itself (used by download).
  static bool transfer(const std::string& url, const std::wstring& path,
                       std::uint64_t maxBytes = kNoLimit);
  // libcurl's transfer-information callback; always returns 0.
  static int onProgress(void* user, std::int64_t downloadTotal,
                        std::int64_t downloaded, std::int64_t uploadTotal,
                        std::int64_t uploaded);
};
