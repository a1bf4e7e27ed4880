// Queries on the downloaded update manifest (update.xml). The file is read
// once, by load, right after its download; every query answers from that
// copy in memory, so the version compared and the installer fetched and
// checked come from the same manifest whatever happens to the file later.
#pragma once

#include <string>

#include "config/download_options.h"

class Manifest {
 public:
  // Reads update.xml (Util::getManifestPath) into memory, replacing what an
  // earlier load read. A file that cannot be read counts as an empty
  // manifest: every query then gives its fallback.
  static void load();
  // installerInformation/version, or empty.
  static std::string getServerVersion();
  // installerInformation/downloadOptions/<name>, or `defaultValue`.
  static std::string getDownloadOption(const std::string& name,
                                       const std::string& defaultValue);
  static DownloadOptions getDownloadOptions();
  // Base URL of the first download location followed directly by the file
  // name of the first entry for `platform`; empty when no base URL.
  static std::string getInstallerUrl(const std::string& platform);
  static std::string getWindowsInstallerUrl();
};
