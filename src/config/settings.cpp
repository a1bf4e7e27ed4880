#include "config/settings.h"

#include "common/int_text.h"
#include "common/text.h"
#include "config/util.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace {

constexpr const wchar_t* kUpdateSection = L"Update";

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

// Switches are on only for exactly "1": "true", "01" and " 1" are off. A file
// without the key gives off.
bool isOn(const wchar_t* section, const wchar_t* key,
          const char* whenFileMissing) {
  return read(section, key, whenFileMissing, L"") == "1";
}

// A number whose default is the same for a missing file and a missing key.
int number(const wchar_t* key, const wchar_t* fallback) {
  return tsdlm::atoiClamped(Settings::getValue(kUpdateSection, key, fallback));
}

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

bool Settings::checkForUpdates() {
  return isOn(kUpdateSection, L"check_for_updates", "1");
}

bool Settings::requireSignedManifest() {
  return isOn(kUpdateSection, L"require_signed_manifest", "0");
}

bool Settings::suppressLoginDialog() {
  return isOn(L"Proxy", L"suppress_login_dialog", "0");
}

int Settings::getLowSpeedLimit() { return number(L"low_speed_limit", L"1024"); }

int Settings::getLowSpeedTime() { return number(L"low_speed_time", L"900"); }

int Settings::getDownloadTime() { return number(L"download_time", L"18000"); }

DownloadOptions Settings::getDownloadOptions() {
  return {getLowSpeedLimit(), getLowSpeedTime(), getDownloadTime()};
}
