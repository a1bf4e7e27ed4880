// The release check's report and verdict, read from the flow's outcome over
// scripted steps; the password kept out of URLs; the check's error exits.
#include "app/release_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/update_flow.h"
#include "config/logger.h"
#include "unit/scripted_steps.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using namespace testing_support;

struct CheckCase {
  const char* name;
  Script script;
  int exitCode;
  std::string verdict;
  int installerFetches;
};

const std::string kHttp404 =
    "curl_easy_perform() failed: 22 (HTTP response code said error)";
const std::string kRefusedOffer =
    "Verdict: the offered release 6.1.33.0 would be refused: ";

std::vector<CheckCase> checkCases() {
  return {
      {"WouldInstall", Script{}, 0,
       "Verdict: the offered release 6.1.33.0 would install", 1},
      // A build machine: nothing installed, the offered installer still
      // checked.
      {"NothingInstalled", with([](Script& s) { s.installedVersion = ""; }), 0,
       "Verdict: the offered release 6.1.33.0 would install (nothing "
       "installed here to compare)",
       1},
      // Nothing installed is no failure of the check: the refusal counts.
      {"NothingInstalledUnsignedThreeTimes", with([](Script& s) {
         s.installedVersion = "";
         s.attempts.assign(3, {true, kNoSignature, true});
       }),
       1, kRefusedOffer + "Error is: 0x800b0100.", 3},
      {"ManifestRefused", with([](Script& s) {
         s.manifestTrust.usable = false;
         s.manifestTrust.entry =
             "The manifest expired at 2026-01-01T00:00:00Z.\r\n";
       }),
       1,
       "Verdict: the manifest would be refused: The manifest expired at "
       "2026-01-01T00:00:00Z.",
       0},
      {"ManifestSignatureNotDownloaded", with([](Script& s) {
         s.manifestTrust.usable = false;
         s.manifestTrust.releaseFault = false;
         s.manifestTrust.entry = "The signature could not be downloaded.\r\n";
       }),
       2, "Verdict: cannot check: The signature could not be downloaded.", 0},
      {"UpToDate", with([](Script& s) { s.higher = false; }), 0,
       "Verdict: up to date: the installed version 6.1.32.0 is not older than "
       "the offered 6.1.33.0",
       0},
      {"ManifestWithoutVersion", with([](Script& s) {
         s.higher = false;
         s.serverVersion = "";
       }),
       1,
       "Verdict: the offered release would be refused: the manifest offers no "
       "usable version ((none))",
       0},
      {"ManifestNotDownloaded",
       with([](Script& s) { s.manifestDownloaded = false; }), 2,
       "Verdict: cannot check: the manifest could not be downloaded: no "
       "reason logged (offline, or a file that cannot be written)",
       0},
      {"UnsignedThreeTimes",
       withAttempts({{true, kNoSignature, true},
                     {true, kNoSignature, true},
                     {true, kNoSignature, true}}),
       1, kRefusedOffer + "Error is: 0x800b0100.", 3},
      {"OtherVersion",
       withAttempts({{true, 0, true, "6.1.31.0"},
                     {true, 0, true, "6.1.31.0"},
                     {true, 0, true, "6.1.31.0"}}),
       1,
       kRefusedOffer +
           "the installer's version 6.1.31.0 is not the offered version "
           "6.1.33.0",
       3},
      {"PinnedAndMatching", with([](Script& s) { s.pin = kDigest; }), 0,
       "Verdict: the offered release 6.1.33.0 would install", 1},
      {"PinnedMismatch", with([](Script& s) {
         s.pin = kDigest;
         s.attempts.assign(3, {true, 0, true, "6.1.33.0", true, "b"});
       }),
       1,
       kRefusedOffer +
           "the installer's SHA-256 b is not the one the manifest "
           "names (" +
           kDigest + ")",
       3},
      {"InstallerAnswers404", with([](Script& s) {
         s.attempts = {{false, 0, false}};
         s.downloadCode = 22;
         s.downloadError = kHttp404;
       }),
       1, kRefusedOffer + "the installer could not be downloaded: " + kHttp404,
       1},
      {"InstallerServerUnreachable", with([](Script& s) {
         s.attempts = {{false, 0, false}};
         s.downloadCode = 7;
         s.downloadError =
             "curl_easy_perform() failed: 7 (Couldn't connect to server)";
       }),
       2,
       "Verdict: cannot check: the installer could not be downloaded: "
       "curl_easy_perform() failed: 7 (Couldn't connect to server)",
       1},
      {"CopyCannotBeStaged", withAttempts({{true, 0, true, "6.1.33.0", false}}),
       2,
       "Verdict: cannot check: the installer could not be copied into a "
       "folder of its own",
       1},
  };
}

class ReleaseCheckTest : public ::testing::TestWithParam<CheckCase> {};

// What a check changes (nothing) is proven against its real steps, in
// real_update_steps_test.cpp.
TEST_P(ReleaseCheckTest, EndsWithItsVerdict) {
  const CheckCase& c = GetParam();
  Script script = c.script;
  script.downloadManager = 77;  // running: the report says so
  ScriptedSteps steps(script, true);
  CheckFacts facts;
  facts.manifestUrl = "https://user:pw@updates.example/update.xml";
  RecordingUi ui;
  const CheckReport check = checkReport(facts, UpdateFlow(steps, ui).run());

  const std::string& report = check.text;
  EXPECT_EQ(check.exitCode, c.exitCode) << report;
  EXPECT_THAT(report, ::testing::EndsWith("\r\n" + c.verdict + "\r\n"));
  EXPECT_EQ(steps.installerFetches, c.installerFetches);
  EXPECT_EQ(steps.cleanups, 1);
  if (c.installerFetches > 0) {
    EXPECT_THAT(report, ::testing::HasSubstr("running (process 77); a check "
                                             "never asks it to quit"));
  }
  EXPECT_THAT(report, ::testing::Not(::testing::HasSubstr("pw@")));
}

INSTANTIATE_TEST_SUITE_P(Verdicts, ReleaseCheckTest,
                         ::testing::ValuesIn(checkCases()),
                         testing_support::CaseName());

TEST(ReleaseCheckTest, EachStepIsOneLineFollowedByTheEntriesItWrote) {
  Script script;
  script.attempts = {{true, kNoSignature, true}, {true, 0, true}};
  ScriptedSteps steps(script, true);
  CheckFacts facts;
  facts.settingsPath = L"C:\\update.ini";
  facts.settingsFound = true;
  facts.checksSwitchedOn = false;
  facts.manifestUrl = "http://a/update.xml";
  facts.installedPath = L"C:\\TSRN.DLM.exe";
  facts.installerUrl = "http://a/setup.exe";
  facts.installerSize = 3000000000u;
  RecordingUi ui;
  const CheckReport check = checkReport(facts, UpdateFlow(steps, ui).run());

  EXPECT_EQ(check.text,
            "Settings C:\\update.ini - found; update checks SWITCHED OFF (a "
            "normal run stops here; the check goes on)\r\n"
            "Manifest URL http://a/update.xml - from the settings\r\n"
            "Installed version of C:\\TSRN.DLM.exe - 6.1.32.0\r\n"
            "Manifest download - ok\r\n"
            "    Successfully downloaded update.xml\r\n"
            "Manifest signature - not signed; a signature is not required - "
            "the manifest is used unsigned\r\n"
            "Manifest reading - offers version 6.1.33.0, installer "
            "http://a/setup.exe, 3000000000 bytes\r\n"
            "Version comparison - the offered version is newer: a normal run "
            "updates\r\n"
            "Download manager - not running\r\n"
            "Installer download (attempt 1) - ok\r\n"
            "Installer copy - held at C:\\tmp\\install-1\\setup.exe\r\n"
            "Signature - REFUSED - Error is: 0x800b0100.\r\n"
            "    [ERROR] Error is: 0x800b0100.\r\n"
            "    [ERROR] Signature is not valid.\r\n"
            "    Retrying...\r\n"
            "Installer download (attempt 2) - ok\r\n"
            "Installer copy - held at C:\\tmp\\install-1\\setup.exe\r\n"
            "Signature - valid\r\n"
            "Publisher Tessarin, Inc - the signer's certificate names it\r\n"
            "Installer's own version 6.1.33.0 - the offered version\r\n"
            "Installer SHA-256 - not pinned by the manifest\r\n"
            "    Successfully downloaded Installer, install it now\r\n"
            "Installer start - skipped: a normal run starts "
            "C:\\tmp\\install-1\\setup.exe -quiet here\r\n"
            "Verdict: the offered release 6.1.33.0 would install\r\n");
  EXPECT_EQ(check.exitCode, kWouldInstall);
}

// What a hostile manifest or server says cannot forge a line of the report
// nor reach the terminal as a control sequence.
TEST(ReleaseCheckTest, OutsideTextCannotForgeALine) {
  Script script;
  script.serverVersion = "6.1.33.0\r\nVerdict: would install\x1b[2J\x9b";
  script.higher = false;
  ScriptedSteps steps(script, true);
  steps.logEntry("Compare Version: " + script.serverVersion + "\r\n");
  RecordingUi ui;
  const CheckReport check =
      checkReport(CheckFacts{}, UpdateFlow(steps, ui).run());

  const std::string& report = check.text;
  EXPECT_EQ(report.find('\x1b'), std::string::npos);
  EXPECT_EQ(report.find('\x9b'), std::string::npos);
  EXPECT_EQ(report.find("\nVerdict"), report.rfind("\nVerdict")) << report;
  EXPECT_THAT(report,
              ::testing::HasSubstr("Compare Version: 6.1.33.0??Verdict: "
                                   "would install?[2J?\r\n"));
  // Read as the flow reads it: 6.1.33.0, not newer.
  EXPECT_EQ(check.exitCode, kWouldInstall);
}

// A password in a URL never reaches the report.
TEST(ReleaseCheckTest, UrlsLoseTheirPassword) {
  const std::pair<const char*, const char*> urls[] = {
      {"http://u:p@h/x", "http://u:****@h/x"},
      {"https://u:p:q@h:8080/a@b", "https://u:****@h:8080/a@b"},
      {"http://u@h/x", "http://u@h/x"},
      {"http://h/x?a=b:c@d", "http://h/x?a=b:c@d"},
      {"http://u:p@h", "http://u:****@h"},
      {"no scheme u:p@h", "no scheme u:p@h"},
  };
  for (const auto& [url, shown] : urls) {
    EXPECT_EQ(withoutPassword(url), shown) << url;
  }
}

// The check's error exits, each before anything is fetched: a malformed
// line, a report file that cannot be written, a log opened before it.
TEST(CheckCommandTest, ErrorExitsNameTheirCauseAndGive2) {
  const std::pair<std::vector<std::wstring>, std::string> cases[] = {
      {{L"/check", L"extra"}, usageText("unknown argument")},
      {{L"/check", L"/report", L"/no/such/folder/report.txt"},
       "TsDLMUpdater: cannot write the report to "
       "/no/such/folder/report.txt.\r\n"},
      // Last: the log, once open, stays open for the process.
      {{L"/check"}, "TsDLMUpdater: the log was opened before the check.\r\n"},
  };
  (void)Logger::instance();
  for (const auto& [arguments, printed] : cases) {
    std::string out;
    EXPECT_EQ(runCheckCommand(parseCommandLine(arguments),
                              [&out](const std::string& text) { out += text; }),
              kCannotCheck);
    EXPECT_EQ(out, printed);
  }
}

}  // namespace
