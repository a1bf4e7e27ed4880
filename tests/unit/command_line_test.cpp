// The command line: the normal run for anything but "/check" first, the
// release check's switches, and every malformed check line giving the usage.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

using Mode = CommandLine::Mode;

struct Case {
  std::vector<std::wstring> arguments;
  Mode mode;
  std::string manifestUrl;
  std::wstring reportPath;
};

void PrintTo(const Case& c, std::ostream* out) {
  for (const std::wstring& argument : c.arguments) {
    *out << '[' << std::string(argument.begin(), argument.end()) << ']';
  }
}

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
      {{}, Mode::kUpdate, "", L""},
      // Only "/check" first selects the check; any other command line (a
      // launcher's own arguments) is the normal run.
      {{L"/silent", L"foo"}, Mode::kUpdate, "", L""},
      {{L""}, Mode::kUpdate, "", L""},
      {{L"", L"/check"}, Mode::kUpdate, "", L""},
      {{L"check"}, Mode::kUpdate, "", L""},
      {{L"-check"}, Mode::kUpdate, "", L""},
      {{L"/checkx"}, Mode::kUpdate, "", L""},
      {{L" /check"}, Mode::kUpdate, "", L""},
      {{L"/manifest", kUrl}, Mode::kUpdate, "", L""},
      {{L"/report", L"r.txt", L"/check"}, Mode::kUpdate, "", L""},
      {{L"/check"}, Mode::kCheck, "", L""},
      {{L"/CHECK"}, Mode::kCheck, "", L""},
      {{L"/Check", L"/Manifest", kUrl},
       Mode::kCheck,
       "https://staging.example/dlm/update.xml",
       L""},
      {{L"/check", L"/REPORT", L"C:\\r p.txt", L"/manifest", L"HTTP://h/x"},
       Mode::kCheck,
       "HTTP://h/x",
       L"C:\\r p.txt"},
      // Each limit, at its least and at its most.
      {{L"/check", L"/manifest", longestUrl, L"/report", longestPath},
       Mode::kCheck,
       std::string(longestUrl.begin(), longestUrl.end()),
       longestPath},
      {{L"/check", L"/manifest", L"https://h", L"/report", L"r"},
       Mode::kCheck,
       "https://h",
       L"r"},
      // A malformed "/check" line prints the usage and runs nothing.
      {{L"/check", L"/check"}, Mode::kUsage, "", L""},
      {{L"/check", L"extra"}, Mode::kUsage, "", L""},
      {{L"/check", L""}, Mode::kUsage, "", L""},
      {{L"/check", L"/manifest"}, Mode::kUsage, "", L""},
      {{L"/check", L"/manifest", L"/report", L"r.txt"}, Mode::kUsage, "", L""},
      {{L"/check", L"/manifest", kUrl, L"/manifest", kUrl},
       Mode::kUsage,
       "",
       L""},
      {{L"/check", L"/manifest", L"ftp://h/x"}, Mode::kUsage, "", L""},
      {{L"/check", L"/manifest", L"file:///C:/x"}, Mode::kUsage, "", L""},
      {{L"/check", L"/manifest", L"http://"}, Mode::kUsage, "", L""},
      {{L"/check", L"/manifest", L"https://"}, Mode::kUsage, "", L""},
      {{L"/check", L"/manifest", L"http://h/a b"}, Mode::kUsage, "", L""},
      {{L"/check", L"/manifest", L"http://h/x\r\nHost: y"},
       Mode::kUsage,
       "",
       L""},
      // A look-alike that narrowing would turn into ASCII is refused.
      {{L"/check", L"/manifest", L"http://h/\u012fx"}, Mode::kUsage, "", L""},
      {{L"/check", L"/manifest", longUrl}, Mode::kUsage, "", L""},
      {{L"/check", L"/report"}, Mode::kUsage, "", L""},
      {{L"/check", L"/report", L""}, Mode::kUsage, "", L""},
      {{L"/check", L"/report", L"a\nb"}, Mode::kUsage, "", L""},
      {{L"/check", L"/report", longPath}, Mode::kUsage, "", L""},
      {{L"/check", L"/report", pairPastTheEnd}, Mode::kUsage, "", L""},
      {{L"/check", L"/report", L"a", L"/report", L"b"}, Mode::kUsage, "", L""},
  };
}

class CommandLineTest : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineTest, ParsesOrRefuses) {
  const Case& c = GetParam();
  const CommandLine line = parseCommandLine(c.arguments);
  EXPECT_EQ(line.mode, c.mode);
  EXPECT_EQ(line.manifestUrl, c.manifestUrl);
  EXPECT_EQ(line.reportPath, c.reportPath);
  EXPECT_EQ(line.problem.empty(), c.mode != Mode::kUsage);
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineTest, ::testing::ValuesIn(cases()));

TEST(CommandLineUsageTest, NamesTheProblemThenBothForms) {
  const std::string text = usageText("unknown argument");
  EXPECT_EQ(text.rfind("TsDLMUpdater: unknown argument.\r\nUsage: ", 0), 0u);
  EXPECT_NE(text.find("/check [/manifest URL] [/report FILE]\r\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

}  // namespace
