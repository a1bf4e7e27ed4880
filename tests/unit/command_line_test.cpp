// The command line: the normal run for anything but "/check" first, the
// release check's switches, and every malformed check line giving the usage.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include "unit/test_support.h"

namespace {

using testing_support::operator<<;

using Mode = CommandLine::Mode;
constexpr Mode kUpdate = Mode::kUpdate;
constexpr Mode kCheck = Mode::kCheck;
constexpr Mode kUsage = Mode::kUsage;

struct Case {
  const char* name;
  std::vector<std::wstring> arguments;
  Mode mode;
  std::string manifestUrl = "";
  std::wstring reportPath = L"";
  bool requireSignature = false;
};

const std::wstring kUrl = L"https://staging.example/dlm/update.xml";

std::vector<Case> cases() {
  const std::wstring longestPath(kMaxReportPath, L'a');
  const std::wstring longPath = longestPath + L"a";
  const std::wstring longestUrl =
      L"http://h/" + std::wstring(kMaxUrl - 9, L'a');
  const std::wstring longUrl = longestUrl + L"a";
  // Lengths count UTF-16 units: a pair ending the longest path is one too many.
  const std::wstring pairPastTheEnd =
      longestPath.substr(1) + L'\xD83D' + L'\xDE00';
  return {
      {"NoArguments", {}, kUpdate},
      // Only "/check" first selects the check; any other command line (a
      // launcher's own arguments) is the normal run.
      {"OtherArguments", {L"/silent", L"foo"}, kUpdate},
      {"EmptyArgument", {L""}, kUpdate},
      {"CheckNotFirst", {L"", L"/check"}, kUpdate},
      {"CheckWithoutSlash", {L"check"}, kUpdate},
      {"CheckWithDash", {L"-check"}, kUpdate},
      {"LongerSwitch", {L"/checkx"}, kUpdate},
      {"LeadingSpace", {L" /check"}, kUpdate},
      {"ManifestWithoutCheck", {L"/manifest", kUrl}, kUpdate},
      {"ReportBeforeCheck", {L"/report", L"r.txt", L"/check"}, kUpdate},
      {"Check", {L"/check"}, kCheck},
      {"UpperCaseCheck", {L"/CHECK"}, kCheck},
      {"MixedCaseManifest",
       {L"/Check", L"/Manifest", kUrl},
       kCheck,
       "https://staging.example/dlm/update.xml"},
      {"ReportThenManifest",
       {L"/check", L"/REPORT", L"C:\\r p.txt", L"/manifest", L"HTTP://h/x"},
       kCheck,
       "HTTP://h/x",
       L"C:\\r p.txt"},
      // Each limit, at its least and at its most.
      {"LongestUrlAndPath",
       {L"/check", L"/manifest", longestUrl, L"/report", longestPath},
       kCheck,
       std::string(longestUrl.begin(), longestUrl.end()),
       longestPath},
      {"ShortestUrlAndPath",
       {L"/check", L"/manifest", L"https://h", L"/report", L"r"},
       kCheck,
       "https://h",
       L"r"},
      // A malformed "/check" line prints the usage and runs nothing.
      {"CheckTwice", {L"/check", L"/check"}, kUsage},
      {"ExtraArgument", {L"/check", L"extra"}, kUsage},
      {"EmptyExtraArgument", {L"/check", L""}, kUsage},
      {"ManifestWithoutUrl", {L"/check", L"/manifest"}, kUsage},
      {"ManifestFollowedBySwitch",
       {L"/check", L"/manifest", L"/report", L"r.txt"},
       kUsage},
      {"ManifestTwice",
       {L"/check", L"/manifest", kUrl, L"/manifest", kUrl},
       kUsage},
      {"FtpManifest", {L"/check", L"/manifest", L"ftp://h/x"}, kUsage},
      {"FileManifest", {L"/check", L"/manifest", L"file:///C:/x"}, kUsage},
      {"HttpWithoutHost", {L"/check", L"/manifest", L"http://"}, kUsage},
      {"HttpsWithoutHost", {L"/check", L"/manifest", L"https://"}, kUsage},
      {"SpaceInUrl", {L"/check", L"/manifest", L"http://h/a b"}, kUsage},
      {"LineBreakInUrl",
       {L"/check", L"/manifest", L"http://h/x\r\nHost: y"},
       kUsage},
      // A look-alike that narrowing would turn into ASCII is refused.
      {"NonAsciiLookAlike",
       {L"/check", L"/manifest", L"http://h/\u012fx"},
       kUsage},
      {"UrlTooLong", {L"/check", L"/manifest", longUrl}, kUsage},
      {"ReportWithoutPath", {L"/check", L"/report"}, kUsage},
      {"EmptyReportPath", {L"/check", L"/report", L""}, kUsage},
      {"LineBreakInPath", {L"/check", L"/report", L"a\nb"}, kUsage},
      {"PathTooLong", {L"/check", L"/report", longPath}, kUsage},
      {"SurrogatePairPastTheLimit",
       {L"/check", L"/report", pairPastTheEnd},
       kUsage},
      {"RequireSignature",
       {L"/check", L"/REQUIRE-SIGNATURE", L"/report", L"r"},
       kCheck,
       "",
       L"r",
       true},
      {"RequireSignatureTwice",
       {L"/check", L"/require-signature", L"/require-signature"},
       kUsage},
      {"ReportTwice", {L"/check", L"/report", L"a", L"/report", L"b"}, kUsage},
  };
}

class CommandLineTest : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineTest, ParsesOrRefuses) {
  const Case& c = GetParam();
  const CommandLine line = parseCommandLine(c.arguments);
  EXPECT_EQ(line.mode, c.mode);
  EXPECT_EQ(line.manifestUrl, c.manifestUrl);
  EXPECT_EQ(line.reportPath, c.reportPath);
  EXPECT_EQ(line.requireSignature, c.requireSignature);
  EXPECT_EQ(line.problem.empty(), c.mode != Mode::kUsage);
  // The run's one options object follows from it: a check works in a folder
  // of its own and masks the trace; anything else runs with the defaults.
  const RunOptions options = runOptionsFor(line);
  const bool check = c.mode == Mode::kCheck;
  EXPECT_EQ(options.isCheck(), check);
  EXPECT_EQ(options.workingFolder, check ? L"TsDLM-check" : L"TsDLM");
  if (check && !c.manifestUrl.empty()) {
    EXPECT_EQ(options.manifestUrl, c.manifestUrl);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineTest, ::testing::ValuesIn(cases()),
                         testing_support::CaseName());

TEST(CommandLineUsageTest, NamesTheProblemThenBothForms) {
  const std::string text = usageText("unknown argument");
  EXPECT_EQ(text.rfind("TsDLMUpdater: unknown argument.\r\nUsage: ", 0), 0u);
  EXPECT_NE(text.find("/check [/manifest URL] [/report FILE]\r\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

}  // namespace
