// The Win32 side of the proxy manager's platform layer: environment reads,
// the last error and its system text, and the WinHTTP settings calls.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <string>

#include "platform/debug_output.h"
#include "platform/environment.h"
#include "platform/winhttp_proxy.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
struct EnvCase {
  const char* name;
  std::wstring value;  // empty: removed
  bool found;
  bool tooLong;
};

class EnvironmentRead : public ::testing::TestWithParam<EnvCase> {
 protected:
  void TearDown() override { _wputenv_s(L"TSRN_WIN_TEST_SWITCH", L""); }
};

TEST_P(EnvironmentRead, ValueSizeAndAbsence) {
  ASSERT_EQ(_wputenv_s(L"TSRN_WIN_TEST_SWITCH", GetParam().value.c_str()), 0);
  std::wstring value = L"stale";
  bool tooLong = true;
  EXPECT_EQ(platform::readEnvironmentVariable(L"TSRN_WIN_TEST_SWITCH", value,
                                              1024, tooLong),
            GetParam().found);
  EXPECT_EQ(tooLong, GetParam().tooLong);
  if (GetParam().found && !GetParam().tooLong) {
    EXPECT_EQ(value, GetParam().value);
  } else {
    EXPECT_TRUE(value.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, EnvironmentRead,
    ::testing::Values(EnvCase{"Removed", L"", false, false},
                      EnvCase{"True", L"TRUE", true, false},
                      EnvCase{"OneLetter", L"x", true, false},
                      EnvCase{"FitsTheBuffer", std::wstring(1023, L'v'), true,
                              false},
                      EnvCase{"TooLong", std::wstring(1024, L'v'), true, true}),
    testing_support::CaseName());

TEST(DebugOutputWin, LastErrorRoundTrip) {
  platform::setLastError(12167);
  EXPECT_EQ(platform::lastError(), 12167u);
  EXPECT_EQ(GetLastError(), 12167u);
}

TEST(DebugOutputWin, SystemTextKeepsItsLineEndOrIsEmpty) {
  const std::wstring text = platform::systemErrorText(ERROR_ACCESS_DENIED);
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
  EXPECT_TRUE(platform::systemErrorText(0x7fffff01).empty());
}

TEST(WinHttpProxyWin, SettingsCallsAnswerInThePrefix) {
  platform::IeProxyConfig ie;
  EXPECT_TRUE(platform::getIeProxyConfigForCurrentUser(ie));
  platform::DefaultProxyConfig defaults;
  EXPECT_TRUE(platform::getDefaultProxyConfiguration(defaults));
}

TEST(WinHttpProxyWin, UnreachableScriptFailsWithTheCallsError) {
  platform::AutoProxyOptions options;
  options.flags = 2;  // configuration script only: nothing leaves the machine
  options.autoConfigUrl = L"http://127.0.0.1:9/none.pac";
  options.autoLogonIfChallenged = true;
  platform::ProxyForUrl answer;
  answer.proxy = L"stale";
  EXPECT_EQ(platform::getProxyForUrl(L"https://example.com/", options, answer),
            platform::ProxyForUrlResult::getProxyForUrlFailed);
  EXPECT_FALSE(answer.proxy.has_value());
  EXPECT_GE(platform::lastError(), 12000u);
}

}  // namespace
