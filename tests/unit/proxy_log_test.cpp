// The proxy manager's log: the environment switches, the line format and the
// cut at the message buffer.
#include "proxy/proxy_log.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <optional>
#include <string>

#include "fakes/fake_platform.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using namespace TSRN::ProxyManager;

struct SwitchCase {
  const char* name;
  std::optional<std::wstring> value;  // nullopt: not set
  bool whenDefaultFalse;
  bool whenDefaultTrue;
};

using EnvironmentSwitchTable = testing_support::PlatformTableTest<SwitchCase>;

TEST_P(EnvironmentSwitchTable, OnlyTrueOrFalseOverrideTheDefault) {
  const SwitchCase& c = GetParam();
  if (c.value) fake::environment().variables["TSRN_TEST_SWITCH"] = *c.value;
  EXPECT_EQ(ReadEnvironmentSwitch(L"TSRN_TEST_SWITCH", false),
            c.whenDefaultFalse);
  EXPECT_EQ(ReadEnvironmentSwitch(L"TSRN_TEST_SWITCH", true),
            c.whenDefaultTrue);
}

INSTANTIATE_TEST_SUITE_P(
    Values, EnvironmentSwitchTable,
    ::testing::Values(
        SwitchCase{"unset", std::nullopt, false, true},
        SwitchCase{"empty", L"", false, true},
        SwitchCase{"one", L"1", false, true},
        SwitchCase{"zero", L"0", false, true},
        SwitchCase{"yes", L"yes", false, true},
        SwitchCase{"lower_true", L"true", true, true},
        SwitchCase{"title_true", L"True", true, true},
        SwitchCase{"upper_true", L"TRUE", true, true},
        SwitchCase{"lower_false", L"false", false, false},
        SwitchCase{"mixed_false", L"fAlSe", false, false},
        SwitchCase{"blank_before", L" true", false, true},
        SwitchCase{"blank_after", L"false ", false, true},
        SwitchCase{"prefix_only", L"tru", false, true},
        SwitchCase{"longer", L"truest", false, true},
        SwitchCase{"non_ascii_letter", L"fal\u017fe", false, true},
        SwitchCase{"too_long", std::wstring(1024, L'x'), false, true},
        SwitchCase{"longest_kept", std::wstring(1023, L'x'), false, true}),
    testing_support::CaseName());

// FormatLogLine with its arguments given here, narrow or wide.
template <typename Char>
std::basic_string<Char> line(int level, const Char* format, ...) {
  va_list args;
  va_start(args, format);
  std::basic_string<Char> text = FormatLogLine(level, format, args);
  va_end(args);
  return text;
}

struct TagCase {
  const char* name;
  int level;
  const char* tag;
};

class LogTagTable : public ::testing::TestWithParam<TagCase> {};

TEST_P(LogTagTable, LineIsPrefixTagMessageAndLineFeed) {
  const std::string expected = std::string("Tessarin   TsrnProxyManager   ") +
                               GetParam().tag + "   PMStatus:2\n";
  EXPECT_EQ(line(GetParam().level, "PMStatus:%d", 2), expected);
  EXPECT_EQ(line(GetParam().level, L"PMStatus:%d", 2),
            std::wstring(expected.begin(), expected.end()));
}

INSTANTIATE_TEST_SUITE_P(Levels, LogTagTable,
                         ::testing::Values(TagCase{"Trace", 0, "[TRACE]"},
                                           TagCase{"Debug", 1, "[DEBUG]"},
                                           TagCase{"Info", 2, "[INFO]"},
                                           TagCase{"Error", 3, "[ERROR]"},
                                           TagCase{"Fatal", 4, "[FATAL]"},
                                           TagCase{"PastTheLastLevel", 5,
                                                   "[INFO]"},
                                           TagCase{"Negative", -1, "[INFO]"}),
                         testing_support::CaseName());

TEST(LogLine, FormatsStringsAndNumbersLikePrintf) {
  EXPECT_EQ(line(LOG_LEVEL_DEBUG,
                 "Discovered proxy server information [server=%s port=%s]",
                 "p1", "8080"),
            "Tessarin   TsrnProxyManager   [DEBUG]   Discovered proxy server "
            "information [server=p1 port=8080]\n");
  EXPECT_EQ(
      line(LOG_LEVEL_ERROR, L"%ls() API failed. Error:%lu Description:%ls",
           L"WinHttpOpen", 12029ul, L"text\r\n"),
      L"Tessarin   TsrnProxyManager   [ERROR]   WinHttpOpen() API "
      L"failed. Error:12029 Description:text\r\n\n");
}

struct CutCase {
  const char* name;
  std::size_t length;
  std::size_t kept;
};

class LogCutTable : public ::testing::TestWithParam<CutCase> {};

TEST_P(LogCutTable, MessageIsCutToTheBuffer) {
  const std::string prefix = "Tessarin   TsrnProxyManager   [INFO]   ";
  const std::string message(GetParam().length, 'x');
  const std::wstring wideMessage(GetParam().length, L'y');
  EXPECT_EQ(line(LOG_LEVEL_INFO, "%s", message.c_str()),
            prefix + std::string(GetParam().kept, 'x') + "\n");
  EXPECT_EQ(line(LOG_LEVEL_INFO, L"%ls", wideMessage.c_str()),
            std::wstring(prefix.begin(), prefix.end()) +
                std::wstring(GetParam().kept, L'y') + L"\n");
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, LogCutTable,
    ::testing::Values(CutCase{"Empty", 0, 0},
                      CutCase{"BelowTheBuffer", 1022, 1022},
                      CutCase{"FillsTheBuffer", 1023, 1023},
                      CutCase{"OneOver", 1024, 1023},
                      CutCase{"FarOver", 5000, 1023},
                      CutCase{"ThreeMegabytes", 3u << 20, 1023}),
    testing_support::CaseName());

TEST(LogLine, CutAppliesToTheFormattedTextNotTheArguments) {
  const std::string host(1020, 'h');
  EXPECT_EQ(line(LOG_LEVEL_INFO, "Input URL:%s/end", host.c_str()),
            "Tessarin   TsrnProxyManager   [INFO]   Input URL:" +
                std::string(1013, 'h') + "\n");
}

// The test program never sets TSRN_ENABLE_DEBUG_STRING before it is loaded,
// so the switch is off: nothing reaches the debugger output, whatever the
// environment says later.
using LogSwitch = testing_support::PlatformTest;

TEST_F(LogSwitch, OffAtLoadMeansNoLinesEvenWhenSetLater) {
  fake::environment().variables["TSRN_ENABLE_DEBUG_STRING"] = L"TRUE";
  EXPECT_FALSE(IsLogEnabled());
  LogMessage(LOG_LEVEL_ERROR, "Proxy server info is empty!");
  LogMessage(LOG_LEVEL_INFO, L"Input URL:%ls", L"https://a");
  fake::debugOutput().lastError = 5;
  ReportApiFailure(L"WinHttpOpen");
  EXPECT_TRUE(fake::debugOutput().narrowLines.empty());
  EXPECT_TRUE(fake::debugOutput().wideLines.empty());
}

}  // namespace
