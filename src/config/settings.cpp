#include "config/settings.h"

#include "common/int_text.h"
#include "common/text.h"
#include "config/util.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace {

constexpr const wchar_t* kUpdateSection = L"Update";
constexpr const wchar_t* kProxySection = L"Proxy";

// One setting: where it is, what a missing file gives, and the default the
// profile API gets for a missing key.
struct Entry {
  const wchar_t* section;
  const wchar_t* key;
  const char* whenFileMissing;
  const wchar_t* whenKeyMissing;
};

constexpr Entry kCheckForUpdates{kUpdateSection, L"check_for_updates", "1",
                                 L""};
constexpr Entry kSuppressLoginDialog{kProxySection, L"suppress_login_dialog",
                                     "0", L""};
constexpr Entry kLowSpeedLimit{kUpdateSection, L"low_speed_limit", "1024",
                               L"1024"};
constexpr Entry kLowSpeedTime{kUpdateSection, L"low_speed_time", "900", L"900"};
constexpr Entry kDownloadTime{kUpdateSection, L"download_time", "18000",
                              L"18000"};

// The narrowed value of the entry, or `whenFileMissing` when there is no
// settings file.
std::string read(const wchar_t* section, const wchar_t* key,
                 const std::string& whenFileMissing,
                 const wchar_t* whenKeyMissing) {
  const std::wstring path = Util::getSettingsPath();
  if (!platform::fileExists(path)) return whenFileMissing;
  return tsdlm::narrowLow8(
      platform::readProfileString(section, key, whenKeyMissing, path));
}

std::string read(const Entry& entry) {
  return read(entry.section, entry.key, entry.whenFileMissing,
              entry.whenKeyMissing);
}

// Switches are on only for exactly "1": "true", "01" and " 1" are off.
bool isOn(const std::string& value) { return value == "1"; }

}  // namespace

std::string Settings::defaultUpdateUrl() {
  return std::string("https://") + kUpdateServerHost +
         "/utility/dlm/prod/Installer/update.xml";
}

std::string Settings::getValue(const std::wstring& section,
                               const std::wstring& key,
                               const std::wstring& defaultValue) {
  return read(section.c_str(), key.c_str(), tsdlm::narrowLow8(defaultValue),
              defaultValue.c_str());
}

std::string Settings::getUpdateUrl() {
  return read(kUpdateSection, L"url", defaultUpdateUrl(), L"");
}

bool Settings::checkForUpdates() { return isOn(read(kCheckForUpdates)); }

bool Settings::requireSignedManifest() {
  return isOn(read(kUpdateSection, L"require_signed_manifest", "0", L""));
}

bool Settings::suppressLoginDialog() {
  return isOn(read(kSuppressLoginDialog));
}

int Settings::getLowSpeedLimit() {
  return tsdlm::atoiClamped(read(kLowSpeedLimit));
}

int Settings::getLowSpeedTime() {
  return tsdlm::atoiClamped(read(kLowSpeedTime));
}

int Settings::getDownloadTime() {
  return tsdlm::atoiClamped(read(kDownloadTime));
}

DownloadOptions Settings::getDownloadOptions() {
  DownloadOptions options;
  options.lowSpeedLimit = getLowSpeedLimit();
  options.lowSpeedTime = getLowSpeedTime();
  options.downloadTime = getDownloadTime();
  return options;
}
