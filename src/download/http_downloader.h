// HTTP(S) transfers into files with libcurl.
#pragma once

#include <cstdint>
#include <string>

#include "download/progress_callback.h"

class HttpDownloader {
 public:
  // The process-wide progress callback. Empty until getInstaller assigns it;
  // written and read on the worker thread only.
  static ProgressCallback progressCallback;

  // Downloads the manifest into Util::getManifestPath. False at once when
  // update checks are switched off.
  static bool getUpdateXml();
  // Puts the installer the manifest offers at Util::getInstallerPath,
  // reusing an intact one of the same version.
  static bool getInstaller(ProgressCallback progress);
  // One transfer; logs "Download complete: <path>" on success.
  static bool download(const std::string& url, const std::wstring& path);
  // The transfer itself (used by download).
  static bool transfer(const std::string& url, const std::wstring& path);
  // libcurl's transfer-information callback; always returns 0.
  static int onProgress(void* user, std::int64_t downloadTotal,
                        std::int64_t downloaded, std::int64_t uploadTotal,
                        std::int64_t uploaded);
};
