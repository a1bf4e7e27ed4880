// update.ini rules against the fake profile reader and the fake "file
// exists", and the fixed product paths.
#include "config/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "config/util.h"
#include "fakes/fake_platform.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;

using testing_support::kProductFolder;
using testing_support::kX86ProductFolder;
const std::wstring kIni = kProductFolder + L"update.ini";

class SettingsTest : public testing_support::PlatformTest {
 protected:
  static void iniExists() { fake::files().existing.insert(kIni); }
  static void set(const wchar_t* section, const wchar_t* key,
                  const std::wstring& value) {
    fake::profile().values[{section, key}] = value;
  }
};

TEST_F(SettingsTest, WithoutTheFileEverySettingHasItsFileMissingValue) {
  EXPECT_EQ(
      Settings::getUpdateUrl(),
      "https://updates.tessarin.com/utility/dlm/prod/Installer/update.xml");
  EXPECT_TRUE(Settings::checkForUpdates());
  EXPECT_FALSE(Settings::suppressLoginDialog());
  EXPECT_FALSE(Settings::requireSignedManifest());
  const DownloadOptions options = Settings::getDownloadOptions();
  EXPECT_EQ(options.lowSpeedLimit, 1024);
  EXPECT_EQ(options.lowSpeedTime, 900);
  EXPECT_EQ(options.downloadTime, 18000);
  EXPECT_EQ(Settings::getValue(L"Update", L"url", L"fallback\x0141"),
            "fallbackA");
  // Values in the profile are never consulted without the file.
  set(L"Update", L"url", L"http://elsewhere/");
  EXPECT_EQ(Settings::getUpdateUrl(), Settings::defaultUpdateUrl());
  EXPECT_TRUE(fake::profile().calls.empty());
}

TEST_F(SettingsTest, AnExistingFileWithoutKeysGivesTheKeyMissingValues) {
  iniExists();
  EXPECT_EQ(Settings::getUpdateUrl(), "");
  EXPECT_FALSE(Settings::checkForUpdates());
  EXPECT_FALSE(Settings::suppressLoginDialog());
  const DownloadOptions options = Settings::getDownloadOptions();
  EXPECT_EQ(options.lowSpeedLimit, 1024);
  EXPECT_EQ(options.lowSpeedTime, 900);
  EXPECT_EQ(options.downloadTime, 18000);

  // Each accessor reads its key again, with the default the table gives.
  const std::vector<fake::ProfileCall> expected = {
      {L"Update", L"url", L"", kIni},
      {L"Update", L"check_for_updates", L"", kIni},
      {L"Proxy", L"suppress_login_dialog", L"", kIni},
      {L"Update", L"low_speed_limit", L"1024", kIni},
      {L"Update", L"low_speed_time", L"900", kIni},
      {L"Update", L"download_time", L"18000", kIni},
  };
  const auto fields = [](const std::vector<fake::ProfileCall>& calls) {
    std::vector<std::vector<std::wstring>> out;
    for (const auto& c : calls)
      out.push_back({c.section, c.key, c.defaultValue, c.path});
    return out;
  };
  EXPECT_EQ(fields(fake::profile().calls), fields(expected));
}

TEST_F(SettingsTest, ValuesAreNarrowedByTheirLow8BitsAndCutAt259Units) {
  iniExists();
  set(L"Update", L"url", L"https://h\x0141st/\x00E9");
  EXPECT_EQ(Settings::getUpdateUrl(), "https://hAst/\xE9");
  set(L"Update", L"url", std::wstring(300, L'u'));
  EXPECT_EQ(Settings::getUpdateUrl(), std::string(259, 'u'));
  set(L"Misc", L"k", L"v");
  EXPECT_EQ(Settings::getValue(L"Misc", L"k", L"d"), "v");
  EXPECT_EQ(Settings::getValue(L"Misc", L"other", L"d"), "d");
}

TEST_F(SettingsTest, TheX86FormIsChosenByTheVariableAloneWhateverItsValue) {
  fake::environment().variables["ProgramFiles(x86)"] = L"D:\\Programs (x86)";
  EXPECT_EQ(Util::getSettingsPath(), kX86ProductFolder + L"update.ini");
  EXPECT_EQ(Util::getInstalledExecutablePath(),
            kX86ProductFolder + L"TSRN.DLM.exe");
  // Only the (x86) file counts now.
  iniExists();
  EXPECT_TRUE(Settings::checkForUpdates());
  fake::files().existing.insert(kX86ProductFolder + L"update.ini");
  EXPECT_FALSE(Settings::checkForUpdates());
  ASSERT_EQ(fake::profile().calls.size(), 1u);
  EXPECT_EQ(fake::profile().calls[0].path, kX86ProductFolder + L"update.ini");

  fake::environment().variables["ProgramFiles(x86)"] = L"";
  EXPECT_EQ(Util::getSettingsPath(), kX86ProductFolder + L"update.ini");
  fake::environment().variables.clear();
  EXPECT_EQ(Util::getSettingsPath(), kIni);
  EXPECT_EQ(Util::getInstalledExecutablePath(),
            kProductFolder + L"TSRN.DLM.exe");
}

struct SwitchCase {
  const char* name;
  std::wstring value;
  bool on;
};

class SwitchTest : public SettingsTest,
                   public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTest, OnlyExactlyOneIsOn) {
  iniExists();
  set(L"Update", L"check_for_updates", GetParam().value);
  set(L"Proxy", L"suppress_login_dialog", GetParam().value);
  set(L"Update", L"require_signed_manifest", GetParam().value);
  EXPECT_EQ(Settings::checkForUpdates(), GetParam().on);
  EXPECT_EQ(Settings::suppressLoginDialog(), GetParam().on);
  EXPECT_EQ(Settings::requireSignedManifest(), GetParam().on);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SwitchTest,
    ::testing::Values(
        SwitchCase{"One", L"1", true}, SwitchCase{"True", L"true", false},
        SwitchCase{"LeadingZero", L"01", false},
        SwitchCase{"Zero", L"0", false}, SwitchCase{"Empty", L"", false},
        SwitchCase{"LeadingSpace", L" 1", false},
        SwitchCase{"TrailingSpace", L"1 ", false},
        SwitchCase{"Two", L"2", false}, SwitchCase{"Yes", L"yes", false},
        SwitchCase{"Eleven", L"11", false},
        // U+0131 narrows to the byte "1".
        SwitchCase{"DotlessINarrowsToOne", L"\x0131", true}),
    testing_support::CaseName());

struct IntegerCase {
  const char* name;
  std::wstring value;
  int number;
};

class IntegerSettingTest : public SettingsTest,
                           public ::testing::WithParamInterface<IntegerCase> {};

TEST_P(IntegerSettingTest, ReadAsAtoiReadsThem) {
  iniExists();
  set(L"Update", L"low_speed_limit", GetParam().value);
  set(L"Update", L"low_speed_time", GetParam().value);
  set(L"Update", L"download_time", GetParam().value);
  const DownloadOptions options = Settings::getDownloadOptions();
  EXPECT_EQ(options.lowSpeedLimit, GetParam().number);
  EXPECT_EQ(options.lowSpeedTime, GetParam().number);
  EXPECT_EQ(options.downloadTime, GetParam().number);
  EXPECT_EQ(Settings::getLowSpeedLimit(), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IntegerSettingTest,
    ::testing::Values(
        IntegerCase{"Plain", L"2048", 2048},
        IntegerCase{"TrailingLetters", L"2048abc", 2048},
        IntegerCase{"LettersOnly", L"abc", 0}, IntegerCase{"Empty", L"", 0},
        IntegerCase{"LeadingSpaces", L"  77", 77},
        IntegerCase{"Negative", L"-5", -5}, IntegerCase{"PlusSign", L"+12", 12},
        IntegerCase{"Fraction", L"1.5", 1},
        IntegerCase{"TooLargeIsClamped", L"99999999999", INT_MAX},
        IntegerCase{"TooSmallIsClamped", L"-99999999999", INT_MIN},
        // U+0134 narrows to "4".
        IntegerCase{"NonAsciiNarrowsToDigits", L"\x0134\x0132", 42}),
    testing_support::CaseName());

}  // namespace
