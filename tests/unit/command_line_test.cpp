// The command line: the normal run for anything but "/check" first, the
// release check's switches, and every malformed check line giving the usage.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include "unit/test_support.h"

namespace {

using testing_support::operator<<;

using Mode = CommandLine::Mode;

struct Case {
  const char* name;
  std::vector<std::wstring> arguments;
  Mode mode;
  std::string manifestUrl;
  std::wstring reportPath;
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
      {"NoArguments", {}, Mode::kUpdate, "", L""},
      // Only "/check" first selects the check; any other command line (a
      // launcher's own arguments) is the normal run.
      {"OtherArguments", {L"/silent", L"foo"}, Mode::kUpdate, "", L""},
      {"EmptyArgument", {L""}, Mode::kUpdate, "", L""},
      {"CheckNotFirst", {L"", L"/check"}, Mode::kUpdate, "", L""},
      {"CheckWithoutSlash", {L"check"}, Mode::kUpdate, "", L""},
      {"CheckWithDash", {L"-check"}, Mode::kUpdate, "", L""},
      {"LongerSwitch", {L"/checkx"}, Mode::kUpdate, "", L""},
      {"LeadingSpace", {L" /check"}, Mode::kUpdate, "", L""},
      {"ManifestWithoutCheck", {L"/manifest", kUrl}, Mode::kUpdate, "", L""},
      {"ReportBeforeCheck",
       {L"/report", L"r.txt", L"/check"},
       Mode::kUpdate,
       "",
       L""},
      {"Check", {L"/check"}, Mode::kCheck, "", L""},
      {"UpperCaseCheck", {L"/CHECK"}, Mode::kCheck, "", L""},
      {"MixedCaseManifest",
       {L"/Check", L"/Manifest", kUrl},
       Mode::kCheck,
       "https://staging.example/dlm/update.xml",
       L""},
      {"ReportThenManifest",
       {L"/check", L"/REPORT", L"C:\\r p.txt", L"/manifest", L"HTTP://h/x"},
       Mode::kCheck,
       "HTTP://h/x",
       L"C:\\r p.txt"},
      // Each limit, at its least and at its most.
      {"LongestUrlAndPath",
       {L"/check", L"/manifest", longestUrl, L"/report", longestPath},
       Mode::kCheck,
       std::string(longestUrl.begin(), longestUrl.end()),
       longestPath},
      {"ShortestUrlAndPath",
       {L"/check", L"/manifest", L"https://h", L"/report", L"r"},
       Mode::kCheck,
       "https://h",
       L"r"},
      // A malformed "/check" line prints the usage and runs nothing.
      {"CheckTwice", {L"/check", L"/check"}, Mode::kUsage, "", L""},
      {"ExtraArgument", {L"/check", L"extra"}, Mode::kUsage, "", L""},
      {"EmptyExtraArgument", {L"/check", L""}, Mode::kUsage, "", L""},
      {"ManifestWithoutUrl", {L"/check", L"/manifest"}, Mode::kUsage, "", L""},
      {"ManifestFollowedBySwitch",
       {L"/check", L"/manifest", L"/report", L"r.txt"},
       Mode::kUsage,
       "",
       L""},
      {"ManifestTwice",
       {L"/check", L"/manifest", kUrl, L"/manifest", kUrl},
       Mode::kUsage,
       "",
       L""},
      {"FtpManifest",
       {L"/check", L"/manifest", L"ftp://h/x"},
       Mode::kUsage,
       "",
       L""},
      {"FileManifest",
       {L"/check", L"/manifest", L"file:///C:/x"},
       Mode::kUsage,
       "",
       L""},
      {"HttpWithoutHost",
       {L"/check", L"/manifest", L"http://"},
       Mode::kUsage,
       "",
       L""},
      {"HttpsWithoutHost",
       {L"/check", L"/manifest", L"https://"},
       Mode::kUsage,
       "",
       L""},
      {"SpaceInUrl",
       {L"/check", L"/manifest", L"http://h/a b"},
       Mode::kUsage,
       "",
       L""},
      {"LineBreakInUrl",
       {L"/check", L"/manifest", L"http://h/x\r\nHost: y"},
       Mode::kUsage,
       "",
       L""},
      // A look-alike that narrowing would turn into ASCII is refused.
      {"NonAsciiLookAlike",
       {L"/check", L"/manifest", L"http://h/\u012fx"},
       Mode::kUsage,
       "",
       L""},
      {"UrlTooLong", {L"/check", L"/manifest", longUrl}, Mode::kUsage, "", L""},
      {"ReportWithoutPath", {L"/check", L"/report"}, Mode::kUsage, "", L""},
      {"EmptyReportPath", {L"/check", L"/report", L""}, Mode::kUsage, "", L""},
      {"LineBreakInPath",
       {L"/check", L"/report", L"a\nb"},
       Mode::kUsage,
       "",
       L""},
      {"PathTooLong", {L"/check", L"/report", longPath}, Mode::kUsage, "", L""},
      {"SurrogatePairPastTheLimit",
       {L"/check", L"/report", pairPastTheEnd},
       Mode::kUsage,
       "",
       L""},
      {"RequireSignature",
       {L"/check", L"/REQUIRE-SIGNATURE", L"/report", L"r"},
       Mode::kCheck,
       "",
       L"r",
       true},
      {"RequireSignatureTwice",
       {L"/check", L"/require-signature", L"/require-signature"},
       Mode::kUsage,
       "",
       L""},
      {"ReportTwice",
       {L"/check", L"/report", L"a", L"/report", L"b"},
       Mode::kUsage,
       "",
       L""},
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
