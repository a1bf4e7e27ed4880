// The optional settings file update.ini beside the installed download
// manager. Nothing is cached: every accessor looks for the file and reads its
// key again. No value is ever reported as bad.
#pragma once

#include <string>

#include "config/download_options.h"

class Settings {
 public:
  // The host of the update server in the default manifest URL.
  static constexpr const char* kUpdateServerHost = "updates.tessarin.com";

  // The value of `key` in `section`, narrowed by keeping the low 8 bits of
  // each unit (at most 259 of them). `defaultValue` when the file is missing
  // or has no such key.
  static std::string getValue(const std::wstring& section,
                              const std::wstring& key,
                              const std::wstring& defaultValue);

  // "Update" "url". Without a file: the default manifest URL; a file
  // without the key gives an empty URL.
  static std::string getUpdateUrl();
  // "Update" "check_for_updates" is exactly "1". True without a file.
  static bool checkForUpdates();
  // "Update" "require_signed_manifest" is exactly "1". False without a file.
  static bool requireSignedManifest();
  // "Proxy" "suppress_login_dialog" is exactly "1". False without a file.
  static bool suppressLoginDialog();

  // "Update" "low_speed_limit", "low_speed_time" and "download_time" read as
  // atoi reads them (clamped to the range of int); 1024, 900 and 18000 when
  // the file or the key is missing.
  static int getLowSpeedLimit();
  static int getLowSpeedTime();
  static int getDownloadTime();
  static DownloadOptions getDownloadOptions();

  // "https://" + kUpdateServerHost + "/utility/dlm/prod/Installer/update.xml"
  static std::string defaultUpdateUrl();
};
