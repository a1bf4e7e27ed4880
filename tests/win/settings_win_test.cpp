// update.ini read through the real profile API, at the fixed path in the
// prefix.
#include <gtest/gtest.h>

#include <string>

#include "config/settings.h"
#include "config/util.h"
#include "win/win_support.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using win_support::ProductFiles;
using win_support::ScopedVariable;

class SettingsWinTest : public ::testing::Test {
 protected:
  ScopedVariable noX86_{L"ProgramFiles(x86)", nullptr};
  ProductFiles product_;
};

TEST_F(SettingsWinTest, NoFileGivesTheFileMissingValues) {
  EXPECT_EQ(
      Settings::getUpdateUrl(),
      "https://updates.tessarin.com/utility/dlm/prod/Installer/update.xml");
  EXPECT_TRUE(Settings::checkForUpdates());
  EXPECT_FALSE(Settings::suppressLoginDialog());
  EXPECT_EQ(Settings::getLowSpeedLimit(), 1024);
  EXPECT_EQ(Settings::getLowSpeedTime(), 900);
  EXPECT_EQ(Settings::getDownloadTime(), 18000);
}

TEST_F(SettingsWinTest, EmptyUpdateSectionGivesTheKeyMissingValues) {
  product_.writeIni("[Update]\r\n");
  EXPECT_EQ(Settings::getUpdateUrl(), "");
  EXPECT_FALSE(Settings::checkForUpdates());
  EXPECT_FALSE(Settings::suppressLoginDialog());
  const DownloadOptions options = Settings::getDownloadOptions();
  EXPECT_EQ(options.lowSpeedLimit, 1024);
  EXPECT_EQ(options.lowSpeedTime, 900);
  EXPECT_EQ(options.downloadTime, 18000);
}

TEST_F(SettingsWinTest, ValuesAsTheProfileApiGivesThem) {
  product_.writeIni(
      "[Update]\r\n"
      "url=http://127.0.0.1:8080/update.xml\r\n"
      "check_for_updates=1\r\n"
      "low_speed_limit=2048abc\r\n"
      "low_speed_time=letters\r\n"
      "download_time=-60\r\n"
      "[Proxy]\r\n"
      "suppress_login_dialog=1\r\n");
  EXPECT_EQ(Settings::getUpdateUrl(), "http://127.0.0.1:8080/update.xml");
  EXPECT_TRUE(Settings::checkForUpdates());
  EXPECT_TRUE(Settings::suppressLoginDialog());
  EXPECT_EQ(Settings::getLowSpeedLimit(), 2048);
  EXPECT_EQ(Settings::getLowSpeedTime(), 0);
  EXPECT_EQ(Settings::getDownloadTime(), -60);
}

struct SwitchCase {
  const char* name;
  const char* line;
  bool on;
};

class SwitchWinTest : public SettingsWinTest,
                      public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchWinTest, OnOnlyForOne) {
  product_.writeIni(std::string("[Update]\r\n") + GetParam().line +
                    "\r\n[Proxy]\r\nsuppress_login_dialog=true\r\n");
  EXPECT_EQ(Settings::checkForUpdates(), GetParam().on);
  EXPECT_FALSE(Settings::suppressLoginDialog());
}

// The profile API itself trims white space around a value and one pair of
// surrounding quotes; what is left must be exactly "1".
INSTANTIATE_TEST_SUITE_P(
    Table, SwitchWinTest,
    ::testing::Values(
        SwitchCase{"One", "check_for_updates=1", true},
        SwitchCase{"True", "check_for_updates=true", false},
        SwitchCase{"LeadingZero", "check_for_updates=01", false},
        SwitchCase{"Zero", "check_for_updates=0", false},
        SwitchCase{"Empty", "check_for_updates=", false},
        SwitchCase{"UpperCaseKey", "CHECK_FOR_UPDATES=1", true},
        SwitchCase{"SpacesAround", "check_for_updates =  1  ", true},
        SwitchCase{"Quoted", "check_for_updates=\"1\"", true},
        SwitchCase{"TrailingComment", "check_for_updates=1 ;comment", false}),
    testing_support::CaseName());

TEST_F(SettingsWinTest, ValuesOver259UnitsAreCutOff) {
  const std::string url = "http://127.0.0.1/" + std::string(300, 'x');
  product_.writeIni("[Update]\r\nurl=" + url + "\r\n");
  EXPECT_EQ(Settings::getUpdateUrl(), url.substr(0, 259));
}

TEST_F(SettingsWinTest, TheX86VariableChoosesTheX86FolderOnDriveC) {
  EXPECT_EQ(Util::getSettingsPath(),
            testing_support::kProductFolder + L"update.ini");
  product_.writeIni("[Update]\r\nurl=plain\r\n");
  product_.writeIni("[Update]\r\nurl=x86\r\n", true);
  EXPECT_EQ(Settings::getUpdateUrl(), "plain");
  {
    // Its value, here another drive, is not used.
    ScopedVariable x86(L"ProgramFiles(x86)", L"D:\\Programs (x86)");
    EXPECT_EQ(Util::getSettingsPath(),
              testing_support::kX86ProductFolder + L"update.ini");
    EXPECT_EQ(Settings::getUpdateUrl(), "x86");
  }
  EXPECT_EQ(Settings::getUpdateUrl(), "plain");
}

}  // namespace
