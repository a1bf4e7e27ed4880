// HTTP(S) transfers into files with libcurl.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "config/run_options.h"
#include "download/progress_callback.h"

// How one transfer ended: libcurl's code and the error entry it logged.
struct Transfer {
  bool ok = false;
  int code = 0;
  std::string error;
  explicit operator bool() const { return ok; }
};

class Manifest;

class HttpDownloader {
 public:
  // No limit on the size of a transfer's body.
  static constexpr std::uint64_t kNoLimit =
      std::numeric_limits<std::uint64_t>::max();
  // The manifest is a few hundred bytes; a body past this is not a manifest.
  static constexpr std::uint64_t kManifestLimit = 1024 * 1024;
  // An installer download whose manifest names no size stops past this:
  // 1 GiB, some twenty times the download manager's installer.
  static constexpr std::uint64_t kInstallerCap = 1024ull * 1024 * 1024;

  // Downloads the manifest (a check's URL, else the settings' one when
  // update checks are on) into the working folder.
  static Transfer getUpdateXml(const RunOptions& options);
  // Downloads the manifest's detached signature, the manifest URL followed
  // by ".p7s", through the same proxy step, into the working folder (at most
  // `maxBytes`), and reads it into `bytes` (empty unless the transfer
  // succeeded). An HTTP error status (no signature served) logs nothing and
  // a failed transfer leaves no file: a server that serves none leaves the
  // log and the working folder as they were.
  static Transfer getManifestSignature(const RunOptions& options,
                                       std::uint64_t maxBytes,
                                       std::string& bytes);
  // Puts the installer `manifest` offers into the working folder, reusing
  // an intact one of the same version, when update checks are on. A check
  // always downloads it: it judges what the server serves now. `progress`
  // hears each percentage of the transfer.
  static Transfer getInstaller(const RunOptions& options,
                               const Manifest& manifest,
                               const ProgressCallback& progress);
  // Downloads it, never reusing a file; a failed download leaves none.
  static Transfer downloadInstaller(const RunOptions& options,
                                    const Manifest& manifest,
                                    const ProgressCallback& progress);

  // One piece of libcurl's verbose output as it is printed: "* " before an
  // information text, "< " and "> " before each header line received and
  // sent; the value of an Authorization or Proxy-Authorization header
  // replaced by "****"; other control characters than line ends and tabs
  // shown as "?"; "" for bodies and TLS data. `kind` is libcurl's
  // curl_infotype.
  static std::string maskedTrace(int kind, const std::string& data);
  // One transfer; logs "Download complete: <path>" on success. A body
  // larger than `maxBytes` fails the transfer as soon as it passes the limit
  // (or at once, when the server announces its length). libcurl's verbose
  // output goes to the standard error stream through maskedTrace, never as
  // libcurl writes it: its own trace shows the proxy's password. `progress`,
  // when not null, hears each percentage. With `exactSize`, a body of any
  // other size than `maxBytes` fails too (logged, before anything reads the
  // file).
  static Transfer download(const std::string& url, const std::wstring& path,
                           std::uint64_t maxBytes = kNoLimit,
                           const ProgressCallback* progress = nullptr,
                           bool exactSize = false, bool logFailure = true);
  // The transfer itself (used by download). A failure's error entry is
  // logged only with `logFailure` (in download too).
  static Transfer transfer(const std::string& url, const std::wstring& path,
                           std::uint64_t maxBytes = kNoLimit,
                           const ProgressCallback* progress = nullptr,
                           bool exactSize = false, bool logFailure = true);
  // libcurl's transfer-information callback, `user` the transfer's
  // ProgressCallback or null; always returns 0.
  static int onProgress(void* user, std::int64_t downloadTotal,
                        std::int64_t downloaded, std::int64_t uploadTotal,
                        std::int64_t uploaded);
};
