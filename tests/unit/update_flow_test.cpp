// The update flow against scripted steps: every ending of the flow with its
// lines in order, its single event, libcurl released once, the dialog.
#include "app/update_flow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "unit/scripted_steps.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using namespace testing_support;

struct EndingCase {
  const char* name;
  Script script;
  Ending ending;
  std::vector<std::string> lines;
  int installerFetches;
};

// What follows from each ending: its one event (none for an installation)
// and the dialog's calls.
struct Effects {
  const wchar_t* event;
  std::vector<std::string> ui;
};

const std::vector<std::string> kInstalling = {"prepare", "show", "installing"};
const std::map<Ending, Effects> kEffects = {
    {Ending::kInstalled, {nullptr, kInstalling}},
    {Ending::kNoInstalledVersion, {L"get installed version failed", {}}},
    {Ending::kManifestNotDownloaded, {L"download update.xml failed", {}}},
    {Ending::kManifestRefused, {L"update.xml refused", {}}},
    {Ending::kUpToDate, {L"installed version is up-to-date", {}}},
    {Ending::kNoUsableOffer, {L"installed version is up-to-date", {}}},
    {Ending::kQuitRefused, {L"failed to exit download manager", {}}},
    {Ending::kInstallerNotObtained,
     {L"download installer failed", {"prepare", "show"}}},
    {Ending::kInstallFailed, {L"install failed", kInstalling}},
};

template <typename... Text>
std::vector<std::string> strings(const Text&... text) {
  return {text...};
}

const std::string kManifestOk = "Successfully downloaded update.xml\r\n";
const std::string kNotHigher =
    "Server version is Not higher than installed version, return now\r\n";
const std::string kQuitOk = "Successfully quit the DLM\r\n";
const std::string kBadSignature = "[ERROR] Signature is not valid.\r\n";
const std::string kRetrying = "Retrying...\r\n";
const std::string kPinMismatch =
    "[ERROR] The installer's SHA-256 " + std::string(64, 'b') +
    " is not the one the manifest names (" + kDigest + ").\r\n";
const std::string kInstallerOk =
    "Successfully downloaded Installer, install it now\r\n";
const std::string kInstallerFailed =
    "[ERROR] Failed to download Installer, return now\r\n";

const std::string kExpired =
    "The manifest expired at 2026-01-01T00:00:00Z.\r\n";

ManifestTrust manifestTrust(bool usable, const std::string& entry) {
  ManifestTrust trust;
  trust.usable = usable;
  trust.present = true;
  trust.valid = usable;
  trust.entry = entry;
  return trust;
}

std::vector<EndingCase> endings() {
  return {
      {"NoInstalledVersion", with([](Script& s) { s.installedVersion = ""; }),
       Ending::kNoInstalledVersion,
       strings("[ERROR] Cannot get installed version.\r\n"), 0},
      {"ManifestNotDownloaded",
       with([](Script& s) { s.manifestDownloaded = false; }),
       Ending::kManifestNotDownloaded,
       strings("[ERROR] Cannot download update.xml, return now\r\n"), 0},
      {"ManifestRefused", with([](Script& s) {
         s.downloadManager = 77;
         s.manifestTrust = manifestTrust(false, kExpired);
       }),
       Ending::kManifestRefused,
       strings(kManifestOk, "[ERROR] " + kExpired,
               "[ERROR] Cannot use update.xml, return now\r\n"),
       0},
      {"SignedManifestInstalls", with([](Script& s) {
         s.manifestTrust = manifestTrust(true, "The manifest is signed.\r\n");
       }),
       Ending::kInstalled,
       strings(kManifestOk, "The manifest is signed.\r\n", kInstallerOk), 1},
      {"NotNewer", with([](Script& s) { s.higher = false; }), Ending::kUpToDate,
       strings(kManifestOk, kNotHigher), 0},
      {"OfferUnreadable", with([](Script& s) {
         s.serverVersion = "6.1.33";
         s.higher = false;
       }),
       Ending::kNoUsableOffer, strings(kManifestOk, kNotHigher), 0},
      {"DownloadManagerRefusesToQuit", with([](Script& s) {
         s.downloadManager = 77;
         s.quitAccepted = false;
       }),
       Ending::kQuitRefused, strings(kManifestOk), 0},
      {"InstallerNotObtained", withAttempts({{false, 0, false}}),
       Ending::kInstallerNotObtained, strings(kManifestOk, kInstallerFailed),
       1},
      {"InstallerNotObtainedAfterQuit", with([](Script& s) {
         s.downloadManager = 77;
         s.attempts = {{false, 0, false}};
       }),
       Ending::kInstallerNotObtained,
       strings(kManifestOk, kQuitOk, kInstallerFailed), 1},
      {"InstallerFailsChecksThreeTimes",
       withAttempts({{true, kNoSignature, true},
                     {true, 0, false},
                     {true, kNoSignature, false}}),
       Ending::kInstallerNotObtained,
       strings(kManifestOk, kBadSignature, kRetrying, kBadSignature, kRetrying,
               kBadSignature, kInstallerFailed),
       3},
      {"SecondDownloadFailsWithoutFurtherRetry",
       withAttempts({{true, kNoSignature, true}, {false, 0, false}}),
       Ending::kInstallerNotObtained,
       strings(kManifestOk, kBadSignature, kRetrying, kInstallerFailed), 2},
      {"PassesOnSecondAttempt",
       withAttempts({{true, 0, false}, {true, 0, true}}), Ending::kInstalled,
       strings(kManifestOk, kBadSignature, kRetrying, kInstallerOk), 2},
      // A genuine installer of another version than the one offered (an
      // older build behind a manifest that promises a newer one) is refused
      // like a bad signature, and fetched again.
      {"OlderGenuineInstallerThreeTimes",
       withAttempts({{true, 0, true, "6.1.31.0"},
                     {true, 0, true, "6.1.33"},
                     {true, 0, true, ""}}),
       Ending::kInstallerNotObtained,
       strings(
           kManifestOk,
           "[ERROR] The installer's version 6.1.31.0 is not the offered "
           "version "
           "6.1.33.0.\r\n",
           kRetrying,
           "[ERROR] The installer's version 6.1.33 is not the offered version "
           "6.1.33.0.\r\n",
           kRetrying,
           "[ERROR] The installer's version (none) is not the offered version "
           "6.1.33.0.\r\n",
           kInstallerFailed),
       3},
      // A pin is held after the other checks; upper-case digits name the
      // same digest.
      {"PinnedAndMatching",
       with([](Script& s) { s.pin = std::string(64, 'A'); }),
       Ending::kInstalled, strings(kManifestOk, kInstallerOk), 1},
      {"PinnedMismatchThreeTimes", with([](Script& s) {
         s.pin = kDigest;
         s.attempts = {{true, 0, true, "6.1.33.0", true, std::string(64, 'b')},
                       {true, 0, true, "6.1.33.0", true, ""},
                       {true, 0, true, "6.1.33.0", true, std::string(64, 'b')}};
       }),
       Ending::kInstallerNotObtained,
       strings(
           kManifestOk, kPinMismatch, kRetrying,
           "[ERROR] The installer's SHA-256 (none) is not the one the manifest "
           "names (" +
               kDigest + ").\r\n",
           kRetrying, kPinMismatch, kInstallerFailed),
       3},
      {"SameVersionWrittenOtherwise",
       withAttempts({{true, 0, true, "6.01.033.00"}}), Ending::kInstalled,
       strings(kManifestOk, kInstallerOk), 1},
      {"CopyCannotBeStaged", withAttempts({{true, 0, true, "6.1.33.0", false}}),
       Ending::kInstallerNotObtained,
       strings(
           kManifestOk,
           "[ERROR] Cannot copy the installer into a folder of its own.\r\n",
           kInstallerFailed),
       1},
      {"InstallerFailed", with([](Script& s) { s.installerExitsZero = false; }),
       Ending::kInstallFailed,
       strings(kManifestOk, kInstallerOk,
               "[ERROR] Failed to install, return now\r\n"),
       1},
      {"Installed", Script{}, Ending::kInstalled,
       strings(kManifestOk, kInstallerOk), 1},
      {"InstalledAfterQuit", with([](Script& s) { s.downloadManager = 77; }),
       Ending::kInstalled, strings(kManifestOk, kQuitOk, kInstallerOk), 1},
  };
}

class UpdateFlowEndingTest : public ::testing::TestWithParam<EndingCase> {};

TEST_P(UpdateFlowEndingTest, WritesItsLinesAndOneEventAndReleasesLibcurl) {
  const EndingCase& ending = GetParam();
  ScriptedSteps steps(ending.script);
  RecordingUi ui;
  EXPECT_EQ(UpdateFlow(steps, ui).run().ending, ending.ending);

  EXPECT_EQ(steps.lines, ending.lines);
  const Effects& effects = kEffects.at(ending.ending);
  if (effects.event != nullptr) {
    EXPECT_THAT(steps.events, ::testing::ElementsAre(effects.event));
  } else {
    EXPECT_TRUE(steps.events.empty());
  }
  EXPECT_EQ(ui.calls, effects.ui);
  EXPECT_EQ(steps.cleanups, 1);
  EXPECT_EQ(steps.trace.front(), "curl_global_init");
  EXPECT_EQ(steps.installerFetches, ending.installerFetches);
  // Every ending after the quit request that starts no installer hands the
  // download manager back (it does nothing when none quit, or when the
  // installer's process existed); as the last step.
  const bool noInstaller = ending.ending == Ending::kInstallerNotObtained ||
                           ending.ending == Ending::kInstallFailed;
  EXPECT_EQ(std::count(steps.trace.begin(), steps.trace.end(), "giveBack"),
            noInstaller ? 1 : 0);
  if (noInstaller) {
    EXPECT_EQ(steps.trace.back(), "giveBack");
  }
}

INSTANTIATE_TEST_SUITE_P(Endings, UpdateFlowEndingTest,
                         ::testing::ValuesIn(endings()),
                         testing_support::CaseName());

// The order of the calls that matter, as the trace shows them (only the
// calls starting with one of `kept`), "show" being the dialog's.
struct OrderCase {
  const char* name;
  Script script;
  std::vector<std::string> kept;
  std::vector<std::string> order;
};

std::vector<OrderCase> orders() {
  return {
      {"ComparesOfferedAgainstInstalled", with([](Script& s) {
         s.serverVersion = "7.0.0.0";
         s.higher = false;
       }),
       strings("compare"), strings("compare 7.0.0.0 6.1.32.0")},
      {"QuitsTheFoundDownloadManagerBeforeShowingTheDialog",
       with([](Script& s) { s.downloadManager = 1234; }),
       strings("quit", "show"), strings("quit 1234", "show")},
      {"RefusedManifestIsNeitherReadNorActedOn", with([](Script& s) {
         s.downloadManager = 77;
         s.manifestTrust = manifestTrust(false, kExpired);
       }),
       strings("checkManifestSignature", "compare", "find", "quit", "show"),
       strings("checkManifestSignature")},
      {"NoQuitAttemptWithoutDownloadManager", Script{}, strings("quit", "show"),
       strings("show")},
      {"AsksForTheExpectedPublisher", Script{}, strings("verifyPublisher"),
       strings("verifyPublisher Tessarin, Inc")},
      {"ChecksPublisherOnlyAfterValidSignature",
       withAttempts({{true, kNoSignature, true}}), strings("verify"),
       strings("verifySignature")},
      {"LibcurlReleasedBeforeInstallFailureIsTracked",
       with([](Script& s) { s.installerExitsZero = false; }),
       strings("launchInstaller", "remove", "curl_global_cleanup", "track"),
       strings("launchInstaller", "remove", "curl_global_cleanup", "track")},
      {"EachRefusedCopyIsRemovedBeforeTheNextFetch",
       withAttempts({{true, kNoSignature, true},
                     {true, 0, true, "6.1.31.0"},
                     {true, 0, true}}),
       strings("stage", "remove", "version", "launchInstaller"),
       strings("stage", "remove", "stage", "version", "remove", "stage",
               "version", "launchInstaller", "remove")},
  };
}

class UpdateFlowOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(UpdateFlowOrderTest, CallsComeInThisOrder) {
  ScriptedSteps steps(GetParam().script);
  RecordingUi ui(&steps.trace);
  UpdateFlow(steps, ui).run();
  std::vector<std::string> seen;
  for (const std::string& call : steps.trace) {
    for (const std::string& head : GetParam().kept) {
      if (call.rfind(head, 0) == 0) {
        seen.push_back(call);
        break;
      }
    }
  }
  EXPECT_EQ(seen, GetParam().order);
}

INSTANTIATE_TEST_SUITE_P(Orders, UpdateFlowOrderTest,
                         ::testing::ValuesIn(orders()),
                         testing_support::CaseName());

TEST(UpdateFlowTest, ProgressCallbackReachesTheDialog) {
  ScriptedSteps steps(Script{});
  RecordingUi ui;
  ASSERT_TRUE(UpdateFlow(steps, ui).downloadAndVerifyInstaller(0));
  ASSERT_TRUE(steps.lastCallback);
  EXPECT_TRUE(steps.lastCallback(42));
  EXPECT_THAT(ui.calls, ::testing::ElementsAre("progress 42"));
}

TEST(UpdateFlowTest, AnEscapingExceptionEndsTheRunWithOneErrorLine) {
  Script script;
  script.manifestThrows = true;
  ScriptedSteps steps(script);
  RecordingUi ui;
  UpdateFlow(steps, ui).run();
  EXPECT_EQ(steps.lines,
            (std::vector<std::string>{"[ERROR] Unexpected error (" +
                                      std::string(std::bad_alloc().what()) +
                                      "), return now\r\n"}));
  EXPECT_TRUE(ui.calls.empty());
}

}  // namespace
