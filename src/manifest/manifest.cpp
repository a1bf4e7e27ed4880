#include "manifest/manifest.h"

std::string Manifest::getServerVersion() { return std::string(); }

std::string Manifest::getDownloadOption(const std::string&,
                                        const std::string& defaultValue) {
  return defaultValue;
}

DownloadOptions Manifest::getDownloadOptions() { return DownloadOptions{}; }

std::string Manifest::getInstallerUrl(const std::string&) {
  return std::string();
}

std::string Manifest::getWindowsInstallerUrl() {
  return getInstallerUrl("windows");
}
