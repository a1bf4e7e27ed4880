// Settings rules on arbitrary values: the input holds the values of the six
// keys, separated by NUL units (UTF-16LE), as the profile API would return
// them from an existing update.ini.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/int_text.h"
#include "common/text.h"
#include "config/settings.h"
#include "config/util.h"
#include "fakes/fake_platform.h"
#include "fuzz/fuzz_input.h"

using fuzz_input::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::vector<std::wstring> values =
      fuzz_input::utf16Fields(data, size, 6);

  fake::reset();
  fake::files().existing.insert(Util::getSettingsPath());
  const wchar_t* keys[][2] = {{L"Update", L"url"},
                              {L"Update", L"check_for_updates"},
                              {L"Update", L"low_speed_limit"},
                              {L"Update", L"low_speed_time"},
                              {L"Update", L"download_time"},
                              {L"Proxy", L"suppress_login_dialog"}};
  for (std::size_t i = 0; i < 6; ++i) {
    if (!values[i].empty()) {
      fake::profile().values[{keys[i][0], keys[i][1]}] = values[i];
    }
  }
  auto narrowed = [&](std::size_t i) {
    return tsdlm::narrowLow8(values[i].substr(0, 259));
  };

  check(Settings::getUpdateUrl() == narrowed(0));
  check(Settings::checkForUpdates() == (narrowed(1) == "1"));
  check(Settings::suppressLoginDialog() == (narrowed(5) == "1"));
  const DownloadOptions options = Settings::getDownloadOptions();
  const int expected[3] = {
      values[2].empty() ? 1024 : tsdlm::atoiClamped(narrowed(2)),
      values[3].empty() ? 900 : tsdlm::atoiClamped(narrowed(3)),
      values[4].empty() ? 18000 : tsdlm::atoiClamped(narrowed(4))};
  check(options.lowSpeedLimit == expected[0]);
  check(options.lowSpeedTime == expected[1]);
  check(options.downloadTime == expected[2]);
  return 0;
}
