// Queries on the downloaded update manifest (update.xml). Each query opens
// the file, parses it, walks to the answer and closes it again.
#pragma once

#include <string>

#include "config/download_options.h"

class Manifest {
 public:
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
