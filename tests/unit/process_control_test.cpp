// findProcess against a fake process table.
#include "app/process_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <sstream>
#include <thread>

#include "app/download_manager_handback.h"
#include "common/text.h"
#include "fakes/fake_platform.h"
#include "unit/process_log.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;

class DownloadManagerControlTest : public testing_support::PlatformTest {
 protected:
  void add(platform::ProcessId id, const std::wstring& path,
           bool canOpen = true) {
    fake::processes().processes.push_back({id, path, canOpen});
  }
  void window(platform::WindowHandle handle, platform::ProcessId owner,
              const std::wstring& title, bool enabled = true,
              std::intptr_t reply = 1) {
    fake::processes().windows.push_back(
        {handle, owner, title, enabled, reply, 0, {}});
  }
  std::string log() { return testing_support::ProcessLog::sinceMark(); }
};

using FindProcessTest = DownloadManagerControlTest;

struct PathCase {
  const char* name;
  std::wstring path;
  bool updater;
  bool downloadManager;
};

using ImagePathRuleTest = testing_support::PlatformTableTest<PathCase>;

TEST_P(ImagePathRuleTest, MatchesBothSubstringsAfterLowerCasingAToZ) {
  const PathCase& c = GetParam();
  fake::processes().processes.push_back({10, c.path, true});
  EXPECT_EQ(findProcess(isUpdaterInstance), c.updater ? 10u : 0u);
  EXPECT_EQ(findProcess(isDownloadManager), c.downloadManager ? 10u : 0u);
}

const PathCase kPaths[] = {
    {"Updater",
     L"C:\\Program Files\\Common Files\\Tessarin Shared\\Tessarin "
     L"Download Manager\\TsDLMUpdater.exe",
     true, false},
    {"DownloadManager",
     L"C:\\Program Files\\Common Files\\Tessarin Shared\\TsDLMgr.exe", false,
     true},
    {"UpperCase", L"C:\\TESSARIN SHARED\\TSDLMUPDATER.EXE", true, false},
    {"OutsideSharedFolder", L"C:\\dev\\build\\TsDLMUpdater.exe", false, false},
    {"SubstringsAnywhere",
     L"D:\\x\\tsdlmupdater.exe.old\\tessarin shared.bak\\a.exe", true, false},
    // U+0130 (capital I with dot) is not one of A to Z: no match.
    {"NonAsciiLetterUnchanged", L"C:\\TESSAR\u0130N SHARED\\TsDLMUpdater.exe",
     false, false},
    // Fullwidth letters are left alone as well.
    {"FullwidthLetters", L"C:\\Tessarin Shared\\\uFF34sDLMUpdater.exe", false,
     false},
    {"EmptyPath", L"", false, false},
};

INSTANTIATE_TEST_SUITE_P(Paths, ImagePathRuleTest, ::testing::ValuesIn(kPaths),
                         testing_support::CaseName());

TEST_F(FindProcessTest, SkipsOwnProcess) {
  fake::processes().self = 7;
  add(7, L"C:\\Tessarin Shared\\TsDLMUpdater.exe");
  EXPECT_EQ(findProcess(isUpdaterInstance), 0u);
  add(8, L"C:\\Tessarin Shared\\TsDLMUpdater.exe");
  EXPECT_EQ(findProcess(isUpdaterInstance), 8u);
}

TEST_F(FindProcessTest, ReturnsFirstMatchInEnumerationOrder) {
  add(30, L"C:\\other.exe");
  add(20, L"C:\\Tessarin Shared\\TsDLMgr.exe");
  add(10, L"C:\\Tessarin Shared\\TsDLMgr.exe");
  EXPECT_EQ(findProcess(isDownloadManager), 20u);
}

TEST_F(FindProcessTest, PassesOverProcessesThatCannotBeOpened) {
  add(20, L"C:\\Tessarin Shared\\TsDLMgr.exe", false);
  add(21, L"C:\\Tessarin Shared\\TsDLMgr.exe");
  EXPECT_EQ(findProcess(isDownloadManager), 21u);
}

TEST_F(FindProcessTest, EnumerationFailureMeansNone) {
  add(20, L"C:\\Tessarin Shared\\TsDLMgr.exe");
  fake::processes().enumerationFails = true;
  EXPECT_EQ(findProcess(isDownloadManager), 0u);
}

TEST_F(FindProcessTest, PredicateSeesLowerCasedPath) {
  add(5, L"C:\\ABC\\Def.EXE");
  std::wstring seen;
  findProcess([&seen](const std::wstring& path) {
    seen = path;
    return false;
  });
  EXPECT_EQ(seen, L"c:\\abc\\def.exe");
}

TEST_F(DownloadManagerControlTest, FirstOwnedWindowWithTheTitleGetsTheRequest) {
  window(1, 50, L"Tessarin Download Manager");  // another process
  window(2, 77, L"Options");                    // no title match
  window(3, 77, L"Tessarin Download Manager - 3 downloads");
  window(4, 77, L"Tessarin Download Manager");
  EXPECT_EQ(findWindowOfProcess(77), 3u);
  EXPECT_TRUE(quitDownloadManager(77));
  ASSERT_EQ(fake::processes().sent.size(), 1u);
  EXPECT_EQ(fake::processes().sent[0].window, 3u);
  EXPECT_EQ(fake::processes().sent[0].message, 0x0403u);
  EXPECT_EQ(fake::processes().sent[0].wParam, 0u);
  EXPECT_EQ(fake::processes().sent[0].lParam, 0);
  EXPECT_EQ(log(), "");
}

TEST_F(DownloadManagerControlTest, TitleMatchIsCaseSensitive) {
  window(3, 77, L"tessarin download manager");
  EXPECT_EQ(findWindowOfProcess(77), 0u);
}

TEST_F(DownloadManagerControlTest, NoWindowLogsAndFails) {
  fake::processes().windowEnumerationFails = true;
  window(3, 77, L"Tessarin Download Manager");
  EXPECT_FALSE(quitDownloadManager(77));
  EXPECT_THAT(log(), ::testing::EndsWith(
                         "  [ERROR] Failed to get running DLM handle!\r\n"));
}

TEST_F(DownloadManagerControlTest, DisabledWindowIsNotAskedAndFailsSilently) {
  window(3, 77, L"Tessarin Download Manager", false);
  EXPECT_FALSE(quitDownloadManager(77));
  EXPECT_TRUE(fake::processes().sent.empty());
  EXPECT_EQ(log(), "");
}

TEST_F(DownloadManagerControlTest, ReplyOfZeroIsARefusal) {
  window(3, 77, L"Tessarin Download Manager", true, 0);
  EXPECT_FALSE(quitDownloadManager(77));
  EXPECT_EQ(fake::processes().sent.size(), 1u);
}

// How long the quit request is waited for, on the fake clock (starting at
// 0): the window answers at `answerAt` and is hung in the spans of `hung`.
constexpr std::uint64_t kNever = UINT64_MAX;

struct QuitWaitCase {
  const char* name;
  std::uint64_t answerAt;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> hung;
  bool accepted;
  std::uint64_t endsAt;  // the fake clock when the wait is over
  std::size_t sent;      // requests delivered
};

class QuitWaitTest : public DownloadManagerControlTest,
                     public ::testing::WithParamInterface<QuitWaitCase> {};

TEST_P(QuitWaitTest, GivesUpOnlyAfterThirtySecondsHung) {
  const QuitWaitCase& c = GetParam();
  window(3, 77, L"Tessarin Download Manager");
  fake::processes().windows[0].answerAt = c.answerAt;
  fake::processes().windows[0].hung = c.hung;
  fake::clock().monotonicMs = 0;
  EXPECT_EQ(quitDownloadManager(77), c.accepted);
  EXPECT_EQ(fake::clock().monotonicMs, c.endsAt);
  EXPECT_EQ(fake::processes().sent.size(), c.sent);
  EXPECT_EQ(log(), "");
}

const QuitWaitCase kWaits[] = {
    {"AnswersAtOnce", 0, {}, true, 0, 1},
    // Busy asking its user for ten minutes, looking at its messages.
    {"BusyButResponsiveIsWaitedFor", 600000, {}, true, 600000, 1},
    // Hung for 20 s while handling the request, then it answers.
    {"ShortHangIsWaitedFor", 25000, {{1000, 21000}}, true, 25000, 1},
    // Hung from 1 s on: 30 s later the wait ends, the request queued once.
    {"HungWhileHandlingIt", kNever, {{1000, kNever}}, false, 31000, 1},
    // A break in the hang starts the 30 s again.
    {"HangWithABreak",
     kNever,
     {{1000, 20000}, {21000, kNever}},
     false,
     51000,
     1},
    // Hung before it was asked: the request is never queued.
    {"HungBeforeTheRequest", kNever, {{0, kNever}}, false, 30000, 0},
    // Hung at first, then responsive: asked once it answers messages.
    {"RecoversBeforeTheLimit", 0, {{0, 10000}}, true, 10000, 1},
};

INSTANTIATE_TEST_SUITE_P(Windows, QuitWaitTest, ::testing::ValuesIn(kWaits),
                         testing_support::CaseName());

struct LaunchCase {
  const char* name;
  bool startFails;
  bool exitCodeUnknown;
  std::uint32_t exitCode;
  bool success;
};

class LaunchInstallerTest : public DownloadManagerControlTest,
                            public ::testing::WithParamInterface<LaunchCase> {};

TEST_P(LaunchInstallerTest, SuccessOnlyOnAKnownExitCodeOfZero) {
  fake::shell().startFails = GetParam().startFails;
  fake::shell().exitCodeUnknown = GetParam().exitCodeUnknown;
  fake::shell().exitCode = GetParam().exitCode;
  const std::wstring path =
      L"C:\\users\\u\\Temp\\TsDLM\\TessarinDownloadManagerSetup.exe";
  EXPECT_EQ(launchInstaller(path), GetParam().success);
  ASSERT_EQ(fake::shell().launches.size(), 1u);
  EXPECT_EQ(fake::shell().launches[0].file, path);
  EXPECT_EQ(fake::shell().launches[0].parameters, L"-quiet");
  EXPECT_EQ(fake::shell().launches[0].directory, L"C:\\users\\u\\Temp\\TsDLM");
  EXPECT_THAT(
      log(),
      ::testing::EndsWith(
          "  C:\\users\\u\\Temp\\TsDLM\\TessarinDownloadManagerSetup.exe\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, LaunchInstallerTest,
    ::testing::Values(LaunchCase{"ExitZero", false, false, 0, true},
                      LaunchCase{"ExitThree", false, false, 3, false},
                      LaunchCase{"NotStarted", true, false, 0, false},
                      LaunchCase{"ExitCodeUnreadable", false, true, 0, false}),
    testing_support::CaseName());

TEST_F(DownloadManagerControlTest,
       OverlongInstallerPathIsRefusedWithoutLaunch) {
  const std::wstring path = L"C:\\" + std::wstring(256, L'a') + L".exe";
  ASSERT_GE(path.size(), 260u);
  EXPECT_FALSE(launchInstaller(path));
  EXPECT_TRUE(fake::shell().launches.empty());
  const std::wstring fits = L"C:\\" + std::wstring(252, L'a') + L".exe";
  ASSERT_EQ(fits.size(), 259u);
  EXPECT_TRUE(launchInstaller(fits));
}

TEST_F(DownloadManagerControlTest, InstallerPathIsNarrowedForTheLog) {
  EXPECT_TRUE(launchInstaller(L"C:\\T\u0141\\setup.exe"));
  EXPECT_THAT(log(), ::testing::EndsWith("  C:\\TA\\setup.exe\r\n"));
}

// Giving the download manager back: the actions of one run in order
// ("quit", "install" for the installer about to start, "started" or
// "failed" for the outcome of that start, "end" for an ending or the
// shutdown), what is started and the one log entry.
const std::string kRunning =
    "C:\\Program Files\\Common Files\\Tessarin Shared\\Tessarin Download "
    "Manager\\TsDLMgr.exe";
constexpr const char* kStartedAgain = "Started the DLM again: ";

struct HandbackCase {
  const char* name;
  const char* actions;
  const char* installAllowed;  // the answers of "install", in order
  std::size_t started;
  // The log entry past its timestamp: this text, the image path and a line
  // end; "": none.
  std::string entry;
  // When the process that quit ends, on the fake clock from 0.
  std::uint64_t endsAt = 0;
  std::string imagePath = kRunning;
  bool startFails = false;
};

class HandbackTest : public DownloadManagerControlTest,
                     public ::testing::WithParamInterface<HandbackCase> {};

TEST_P(HandbackTest, StartsTheDownloadManagerOnceWhenNoInstallerRan) {
  const HandbackCase& c = GetParam();
  const std::wstring image = tsdlm::widenBytes(c.imagePath);
  fake::processes().startFails = c.startFails;
  DownloadManagerHandback handback;
  std::istringstream actions(c.actions);
  std::string action;
  std::string allowed;
  while (actions >> action) {
    if (action == "quit") {
      fake::clock().monotonicMs = 0;
      fake::processes().processes.push_back({77, image, true, c.endsAt});
      handback.quitAccepted(image, platform::holdProcess(77));
    }
    if (action == "install")
      allowed += handback.installerStarting() ? "y" : "n";
    if (action == "started") handback.installerStarted();
    if (action == "failed") handback.installerNotStarted();
    if (action == "end") handback.giveBack();
  }
  EXPECT_EQ(allowed, c.installAllowed);
  const auto& started = fake::processes().started;
  ASSERT_EQ(started.size(), c.started);
  if (c.started == 1) {
    EXPECT_EQ(started[0].first, image);
    EXPECT_EQ(started[0].second, image.substr(0, image.rfind(L'\\')));
  }
  const std::string written = log();
  EXPECT_EQ(written.empty() ? written : written.substr(21),
            c.entry.empty() ? "" : c.entry + c.imagePath + "\r\n");
}

const std::string kNotInItsFolder =
    "[ERROR] Not starting the DLM again, not in its installation folder: ";

const HandbackCase kHandbacks[] = {
    {"FailedDownloadAfterQuit", "quit end", "", 1, kStartedAgain},
    {"EndingThenShutdownStartOnce", "quit end end", "", 1, kStartedAgain},
    {"InstallerStartedLeavesItToTheInstaller", "quit install started end", "y",
     0, ""},
    // Declined elevation, a blocked or unrunnable file: no process.
    {"InstallerNotStarted", "quit install failed end", "y", 1, kStartedAgain},
    // The dialog closed first: the installer must not start after it.
    {"ClosedBeforeTheInstaller", "quit end install", "n", 1, kStartedAgain},
    {"NoDownloadManagerQuit", "end install", "y", 0, ""},
    {"NoDownloadManagerQuitStartFails", "install failed end", "y", 0, ""},
    {"UpperCaseFolderMatches", "quit end", "", 1, kStartedAgain, 0,
     "C:\\PROGRAM FILES\\Common Files\\Tessarin Shared\\Tessarin Download "
     "Manager\\bin\\TsDLMgr.exe"},
    {"OutsideTheInstallationFolder", "quit end", "", 0, kNotInItsFolder, 0,
     "C:\\Users\\u\\Tessarin Shared\\TsDLMgr.exe"},
    {"SiblingFolderWithTheSamePrefix", "quit end", "", 0, kNotInItsFolder, 0,
     "C:\\Program Files\\Common Files\\Tessarin Shared\\Tessarin Download "
     "Manager2\\TsDLMgr.exe"},
    {"StartFails", "quit end", "", 0,
     "[ERROR] Failed to start the DLM again: ", 0, kRunning, true},
    // The old process is waited for, up to the bound, before the start.
    {"EndsAtTheBound", "quit end", "", 1, kStartedAgain, 20000},
    {"StillRunningPastTheBound", "quit end", "", 0,
     "[ERROR] The DLM is still running after 20 s, not starting it again: ",
     20001},
};

INSTANTIATE_TEST_SUITE_P(Runs, HandbackTest, ::testing::ValuesIn(kHandbacks),
                         testing_support::CaseName());

// The user closes the dialog while the system decides on the start (its
// error box is up): the shutdown waits for the outcome and gives back. A
// shutdown that did not wait would find the start under way and give
// nothing back; one that gave back at once would have started the download
// manager before the outcome was known.
TEST_F(DownloadManagerControlTest, ShutdownDuringTheStartWaitsForItsOutcome) {
  DownloadManagerHandback handback;
  handback.quitAccepted(tsdlm::widenBytes(kRunning));
  ASSERT_TRUE(handback.installerStarting());
  std::promise<void> closing;
  std::thread shutdown([&handback, &closing] {
    closing.set_value();
    handback.giveBack();
  });
  closing.get_future().wait();
  const std::size_t startedBeforeTheOutcome = fake::processes().started.size();
  handback.installerNotStarted();
  shutdown.join();
  EXPECT_EQ(startedBeforeTheOutcome, 0u);
  EXPECT_EQ(fake::processes().started.size(), 1u);
}

}  // namespace
