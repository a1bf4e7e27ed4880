// The update flow against scripted steps: every ending of the flow with its
// lines in order, its single event, libcurl released once, the dialog; and
// the release check's report and verdict read from the flow's outcome.
#include "app/update_flow.h"

#include "app/release_check.h"
#include "config/logger.h"
#include "unit/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <new>
#include <optional>
#include <string>
#include <vector>

using testing_support::operator<<;

namespace {

// The staged copy's SHA-256 unless an attempt says otherwise.
const std::string kDigest(64, 'a');

struct Script {
  std::string installedVersion = "6.1.32.0";
  bool manifestDownloaded = true;
  bool manifestThrows = false;
  std::string serverVersion = "6.1.33.0";
  bool higher = true;
  std::uint32_t downloadManager = 0;
  bool quitAccepted = true;
  // One entry per getInstaller call: {fetched, signatureStatus, publisherOk,
  // the installer's own version, whether a copy can be staged, its digest}.
  struct Attempt {
    bool fetched;
    std::int32_t signature;
    bool publisher;
    std::string version = "6.1.33.0";
    bool staged = true;
    std::string sha256 = kDigest;
  };
  std::optional<std::string> pin;  // the manifest's sha256, if any
  std::deque<Attempt> attempts{{true, 0, true}};
  bool installerExitsZero = true;
  // A failed installer download: libcurl's code and message.
  int downloadCode = 0;
  std::string downloadError;
};

// Records every call as one line of a trace. As a check's binding, it only
// says it would quit or start, tracks nothing, and keeps the log entries
// (its own and the flow's) for the flow to take.
class ScriptedSteps : public UpdateSteps {
 public:
  explicit ScriptedSteps(Script script, bool check = false)
      : script_(std::move(script)), check_(check) {}

  std::vector<std::string> trace;
  int cleanups = 0;
  int installerFetches = 0;
  std::vector<std::string> lines;  // log lines, errors prefixed "[ERROR] "
  std::vector<std::wstring> events;
  ProgressCallback lastCallback;

  void curlGlobalInit() override { trace.push_back("curl_global_init"); }
  void curlGlobalCleanup() override {
    ++cleanups;
    trace.push_back("curl_global_cleanup");
  }
  std::string getInstalledVersion() override {
    return script_.installedVersion;
  }
  Transfer getUpdateXml() override {
    if (script_.manifestThrows) throw std::bad_alloc();
    Transfer manifest;
    manifest.ok = script_.manifestDownloaded;
    return manifest;
  }
  std::string getServerVersion() override { return script_.serverVersion; }
  bool isVersionHigher(const std::string& candidate,
                       const std::string& reference) override {
    trace.push_back("compare " + candidate + " " + reference);
    return script_.higher;
  }
  std::uint32_t findDownloadManager() override {
    return script_.downloadManager;
  }
  Act quitDownloadManager(std::uint32_t id) override {
    if (check_) return Act::kWouldDo;
    trace.push_back("quit " + std::to_string(id));
    return script_.quitAccepted ? Act::kDone : Act::kFailed;
  }
  void giveBackDownloadManager() override { trace.push_back("giveBack"); }
  Transfer getInstaller(ProgressCallback progress) override {
    ++installerFetches;
    lastCallback = progress;
    current_ = script_.attempts.empty() ? Script::Attempt{false, 0, false}
                                        : script_.attempts.front();
    if (!script_.attempts.empty()) script_.attempts.pop_front();
    Transfer fetched;
    fetched.ok = current_.fetched;
    if (!fetched.ok && !script_.downloadError.empty()) {
      fetched.code = script_.downloadCode;
      fetched.error = script_.downloadError + "\r\n";
      logEntry("[ERROR] " + fetched.error);
    }
    return fetched;
  }
  std::wstring getInstallerPath() override { return L"C:\\tmp\\setup.exe"; }
  std::wstring stageInstaller(const std::wstring& downloaded) override {
    EXPECT_EQ(downloaded, L"C:\\tmp\\setup.exe");
    trace.push_back("stage");
    return current_.staged ? L"C:\\tmp\\install-1\\setup.exe" : L"";
  }
  Signature verifySignature(const std::wstring& path) override {
    EXPECT_EQ(path, L"C:\\tmp\\install-1\\setup.exe");
    trace.push_back("verifySignature");
    Signature signature;
    signature.status = current_.signature;
    signature.signer.known = current_.signature == 0;
    if (current_.signature != 0) {
      signature.entry = "Error is: 0x800b0100.\r\n";
      logEntry("[ERROR] " + signature.entry);
    }
    return signature;
  }
  std::string getStagedInstallerVersion() override {
    trace.push_back("version");
    return current_.version;
  }
  std::optional<std::string> getInstallerPin() override { return script_.pin; }
  std::string getStagedInstallerSha256() override {
    trace.push_back("sha256");
    return current_.sha256;
  }
  void removeStagedInstaller() override { trace.push_back("remove"); }
  bool verifyPublisher(const platform::SignerIdentity& signer,
                       const std::wstring& subject, std::string&) override {
    EXPECT_TRUE(signer.known);  // the signer the signature check found
    trace.push_back("verifyPublisher " + std::string(subject.begin(), subject.end()));
    return current_.publisher;
  }
  Act launchInstaller(const std::wstring& path) override {
    EXPECT_EQ(path, L"C:\\tmp\\install-1\\setup.exe");
    if (check_) return Act::kWouldDo;
    trace.push_back("launchInstaller");
    return script_.installerExitsZero ? Act::kDone : Act::kFailed;
  }
  void track(const wchar_t* event, const wchar_t* key,
             const wchar_t* value) override {
    if (check_) return;
    EXPECT_STREQ(event, L"error_occurred");
    EXPECT_STREQ(key, L"error_string");
    events.emplace_back(value);
    trace.push_back("track");
  }
  void logInfo(const std::string& message) override {
    (check_ ? journal_ : lines).push_back(message);
  }
  void logError(const std::string& message) override {
    logInfo("[ERROR] " + message);
  }
  std::vector<std::string> takeLogEntries() override {
    return std::exchange(journal_, {});
  }
  // An entry a subsystem writes: kept in a check's log, not looked at in a
  // normal run.
  void logEntry(const std::string& entry) {
    if (check_) journal_.push_back(entry);
  }

 private:
  Script script_;
  bool check_;
  Script::Attempt current_{false, 0, false};
  std::vector<std::string> journal_;
};

class RecordingUi : public ProgressUi {
 public:
  RecordingUi() = default;
  // Shows the dialog's appearance in the steps' trace as well.
  explicit RecordingUi(std::vector<std::string>* trace) : trace_(trace) {}
  std::vector<std::string> calls;
  void prepareDialogTexts() override { calls.push_back("prepare"); }
  void show() override {
    calls.push_back("show");
    if (trace_ != nullptr) trace_->push_back("show");
  }
  bool reportProgress(int percent) override {
    calls.push_back("progress " + std::to_string(percent));
    return true;
  }
  void showInstalling() override { calls.push_back("installing"); }
  void closeAction() override { calls.push_back("close"); }

 private:
  std::vector<std::string>* trace_ = nullptr;
};

struct EndingCase {
  const char* name;
  Script script;
  Ending ending;
  std::vector<std::string> lines;
  const wchar_t* event;  // nullptr: no event
  std::vector<std::string> ui;
  int installerFetches;
};


const std::string kManifestOk = "Successfully downloaded update.xml\r\n";
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
const std::vector<std::string> kShown = {"prepare", "show"};
const std::vector<std::string> kInstalling = {"prepare", "show", "installing"};

Script with(void (*change)(Script&)) {
  Script script;
  change(script);
  return script;
}

const std::int32_t kNoSignature = static_cast<std::int32_t>(0x800B0100u);

std::vector<EndingCase> endings() {
  return {
      {"NoInstalledVersion", with([](Script& s) { s.installedVersion = ""; }), Ending::kNoInstalledVersion,
       {"[ERROR] Cannot get installed version.\r\n"},
       L"get installed version failed", {}, 0},
      {"ManifestNotDownloaded",
       with([](Script& s) { s.manifestDownloaded = false; }), Ending::kManifestNotDownloaded,
       {"[ERROR] Cannot download update.xml, return now\r\n"},
       L"download update.xml failed", {}, 0},
      {"NotNewer", with([](Script& s) { s.higher = false; }), Ending::kUpToDate,
       {kManifestOk,
        "Server version is Not higher than installed version, return now\r\n"},
       L"installed version is up-to-date", {}, 0},
      {"DownloadManagerRefusesToQuit", with([](Script& s) {
         s.downloadManager = 77;
         s.quitAccepted = false;
       }), Ending::kQuitRefused,
       {kManifestOk}, L"failed to exit download manager", {}, 0},
      {"InstallerNotObtained",
       with([](Script& s) { s.attempts = {{false, 0, false}}; }), Ending::kInstallerNotObtained,
       {kManifestOk, kInstallerFailed}, L"download installer failed", kShown,
       1},
      {"InstallerNotObtainedAfterQuit", with([](Script& s) {
         s.downloadManager = 77;
         s.attempts = {{false, 0, false}};
       }), Ending::kInstallerNotObtained,
       {kManifestOk, kQuitOk, kInstallerFailed}, L"download installer failed",
       kShown, 1},
      {"InstallerFailsChecksThreeTimes", with([](Script& s) {
         s.attempts = {{true, kNoSignature, true},
                       {true, 0, false},
                       {true, kNoSignature, false}};
       }), Ending::kInstallerNotObtained,
       {kManifestOk, kBadSignature, kRetrying, kBadSignature, kRetrying,
        kBadSignature, kInstallerFailed},
       L"download installer failed", kShown, 3},
      {"SecondDownloadFailsWithoutFurtherRetry", with([](Script& s) {
         s.attempts = {{true, kNoSignature, true}, {false, 0, false}};
       }), Ending::kInstallerNotObtained,
       {kManifestOk, kBadSignature, kRetrying, kInstallerFailed},
       L"download installer failed", kShown, 2},
      {"PassesOnSecondAttempt", with([](Script& s) {
         s.attempts = {{true, 0, false}, {true, 0, true}};
       }), Ending::kInstalled,
       {kManifestOk, kBadSignature, kRetrying, kInstallerOk}, nullptr,
       kInstalling, 2},
      // A genuine installer of another version than the one offered (an
      // older build behind a manifest that promises a newer one) is refused
      // like a bad signature, and fetched again.
      {"OlderGenuineInstallerThreeTimes", with([](Script& s) {
         s.attempts = {{true, 0, true, "6.1.31.0"},
                       {true, 0, true, "6.1.33"},
                       {true, 0, true, ""}};
       }), Ending::kInstallerNotObtained,
       {kManifestOk,
        "[ERROR] The installer's version 6.1.31.0 is not the offered version "
        "6.1.33.0.\r\n",
        kRetrying,
        "[ERROR] The installer's version 6.1.33 is not the offered version "
        "6.1.33.0.\r\n",
        kRetrying,
        "[ERROR] The installer's version (none) is not the offered version "
        "6.1.33.0.\r\n",
        kInstallerFailed},
       L"download installer failed", kShown, 3},
      // A pin is held after the other checks; upper-case digits name the
      // same digest.
      {"PinnedAndMatching",
       with([](Script& s) { s.pin = std::string(64, 'A'); }), Ending::kInstalled,
       {kManifestOk, kInstallerOk}, nullptr, kInstalling, 1},
      {"PinnedMismatchThreeTimes", with([](Script& s) {
         s.pin = kDigest;
         s.attempts = {{true, 0, true, "6.1.33.0", true, std::string(64, 'b')},
                       {true, 0, true, "6.1.33.0", true, ""},
                       {true, 0, true, "6.1.33.0", true, std::string(64, 'b')}};
       }), Ending::kInstallerNotObtained,
       {kManifestOk, kPinMismatch, kRetrying,
        "[ERROR] The installer's SHA-256 (none) is not the one the manifest "
        "names (" + kDigest + ").\r\n",
        kRetrying, kPinMismatch, kInstallerFailed},
       L"download installer failed", kShown, 3},
      {"SameVersionWrittenOtherwise", with([](Script& s) {
         s.attempts = {{true, 0, true, "6.01.033.00"}};
       }), Ending::kInstalled,
       {kManifestOk, kInstallerOk}, nullptr, kInstalling, 1},
      {"CopyCannotBeStaged", with([](Script& s) {
         s.attempts = {{true, 0, true, "6.1.33.0", false}};
       }), Ending::kInstallerNotObtained,
       {kManifestOk,
        "[ERROR] Cannot copy the installer into a folder of its own.\r\n",
        kInstallerFailed},
       L"download installer failed", kShown, 1},
      {"InstallerFailed",
       with([](Script& s) { s.installerExitsZero = false; }), Ending::kInstallFailed,
       {kManifestOk, kInstallerOk, "[ERROR] Failed to install, return now\r\n"},
       L"install failed", kInstalling, 1},
      {"Installed", Script{}, Ending::kInstalled, {kManifestOk, kInstallerOk}, nullptr, kInstalling,
       1},
      {"InstalledAfterQuit",
       with([](Script& s) { s.downloadManager = 77; }), Ending::kInstalled,
       {kManifestOk, kQuitOk, kInstallerOk}, nullptr, kInstalling, 1},
  };
}

class UpdateFlowEndingTest : public ::testing::TestWithParam<EndingCase> {};

TEST_P(UpdateFlowEndingTest, WritesItsLinesAndOneEventAndReleasesLibcurl) {
  const EndingCase& ending = GetParam();
  ScriptedSteps steps(ending.script);
  RecordingUi ui;
  EXPECT_EQ(UpdateFlow(steps, ui).run().ending, ending.ending);

  EXPECT_EQ(steps.lines, ending.lines);
  if (ending.event != nullptr) {
    EXPECT_THAT(steps.events, ::testing::ElementsAre(ending.event));
  } else {
    EXPECT_TRUE(steps.events.empty());
  }
  EXPECT_EQ(steps.cleanups, 1);
  EXPECT_EQ(steps.trace.front(), "curl_global_init");
  EXPECT_EQ(steps.installerFetches, ending.installerFetches);
  EXPECT_EQ(ui.calls, ending.ui);
  // Every ending after the quit request that starts no installer hands the
  // download manager back (it does nothing when none quit, or when the
  // installer's process existed); as the last step.
  const bool noInstaller =
      ending.event != nullptr &&
      (std::wstring(ending.event) == L"download installer failed" ||
       std::wstring(ending.event) == L"install failed");
  EXPECT_EQ(std::count(steps.trace.begin(), steps.trace.end(), "giveBack"),
            noInstaller ? 1 : 0);
  if (noInstaller) {
    EXPECT_EQ(steps.trace.back(), "giveBack");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Endings, UpdateFlowEndingTest, ::testing::ValuesIn(endings()),
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
       {"compare"}, {"compare 7.0.0.0 6.1.32.0"}},
      {"QuitsTheFoundDownloadManagerBeforeShowingTheDialog",
       with([](Script& s) { s.downloadManager = 1234; }), {"quit", "show"},
       {"quit 1234", "show"}},
      {"NoQuitAttemptWithoutDownloadManager", Script{}, {"quit", "show"}, {"show"}},
      {"AsksForTheExpectedPublisher", Script{}, {"verifyPublisher"},
       {"verifyPublisher Tessarin, Inc"}},
      {"ChecksPublisherOnlyAfterValidSignature",
       with([](Script& s) { s.attempts = {{true, kNoSignature, true}}; }),
       {"verify"}, {"verifySignature"}},
      {"LibcurlReleasedBeforeInstallFailureIsTracked",
       with([](Script& s) { s.installerExitsZero = false; }),
       {"launchInstaller", "remove", "curl_global_cleanup", "track"},
       {"launchInstaller", "remove", "curl_global_cleanup", "track"}},
      {"EachRefusedCopyIsRemovedBeforeTheNextFetch", with([](Script& s) {
         s.attempts = {{true, kNoSignature, true},
                       {true, 0, true, "6.1.31.0"},
                       {true, 0, true}};
       }),
       {"stage", "remove", "version", "launchInstaller"},
       {"stage", "remove", "stage", "version", "remove", "stage", "version",
        "launchInstaller", "remove"}},
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

INSTANTIATE_TEST_SUITE_P(Orders, UpdateFlowOrderTest, ::testing::ValuesIn(orders()),
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
  EXPECT_EQ(steps.lines, (std::vector<std::string>{
                             "[ERROR] Unexpected error (" +
                             std::string(std::bad_alloc().what()) + "), return now\r\n"}));
  EXPECT_TRUE(ui.calls.empty());
}

}  // namespace

// --- The release check over the same scripted steps ----------------------

struct CheckCase {
  const char* name;
  Script script;
  int exitCode;
  std::string verdict;
  int installerFetches;
};


constexpr RunOptions::Mode kCheck = RunOptions::Mode::kCheck;

const std::string kHttp404 =
    "curl_easy_perform() failed: 22 (HTTP response code said error)";
const std::string kRefusedOffer = "Verdict: the offered release 6.1.33.0 would be refused: ";

std::vector<CheckCase> checkCases() {
  return {
      {"WouldInstall", Script{}, 0,
       "Verdict: the offered release 6.1.33.0 would install", 1},
      // A build machine: nothing installed, the offered installer still checked.
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
      {"UnsignedThreeTimes", with([](Script& s) {
         s.attempts = {{true, kNoSignature, true},
                       {true, kNoSignature, true},
                       {true, kNoSignature, true}};
       }),
       1, kRefusedOffer + "Error is: 0x800b0100.", 3},
      {"OtherVersion", with([](Script& s) {
         s.attempts = {{true, 0, true, "6.1.31.0"},
                       {true, 0, true, "6.1.31.0"},
                       {true, 0, true, "6.1.31.0"}};
       }),
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
       kRefusedOffer + "the installer's SHA-256 b is not the one the manifest "
                       "names (" + kDigest + ")",
       3},
      {"InstallerAnswers404", with([](Script& s) {
         s.attempts = {{false, 0, false}};
         s.downloadCode = 22;
         s.downloadError = kHttp404;
       }),
       1,
       kRefusedOffer + "the installer could not be downloaded: " + kHttp404, 1},
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
      {"CopyCannotBeStaged", with([](Script& s) {
         s.attempts = {{true, 0, true, "6.1.33.0", false}};
       }),
       2,
       "Verdict: cannot check: the installer could not be copied into a "
       "folder of its own",
       1},
  };
}

class ReleaseCheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ReleaseCheckTest, ChangesNothingAndEndsWithItsVerdict) {
  const CheckCase& c = GetParam();
  Script script = c.script;
  script.downloadManager = 77;  // running: must not be asked to quit
  ScriptedSteps steps(script, true);
  CheckFacts facts;
  facts.manifestUrl = "https://user:pw@updates.example/update.xml";
  RecordingUi ui;
  const CheckReport check = checkReport(facts, UpdateFlow(steps, ui, kCheck).run());

  const std::string& report = check.text;
  EXPECT_EQ(check.exitCode, c.exitCode) << report;
  EXPECT_THAT(report, ::testing::EndsWith("\r\n" + c.verdict + "\r\n"));
  EXPECT_EQ(steps.installerFetches, c.installerFetches);
  EXPECT_THAT(steps.trace, ::testing::Not(::testing::Contains(
                               ::testing::AnyOf(::testing::StartsWith("quit"),
                                                "launchInstaller", "track"))));
  EXPECT_TRUE(steps.events.empty());
  EXPECT_EQ(steps.lines, std::vector<std::string>());  // the flow's lines: report only
  EXPECT_EQ(steps.cleanups, 1);
  if (c.installerFetches > 0) {
    EXPECT_THAT(report, ::testing::HasSubstr("running (process 77); a check "
                                             "never asks it to quit"));
  }
  EXPECT_THAT(report, ::testing::Not(::testing::HasSubstr("pw@")));
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, ReleaseCheckTest, ::testing::ValuesIn(checkCases()),
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
  const CheckReport check = checkReport(facts, UpdateFlow(steps, ui, kCheck).run());

  EXPECT_EQ(check.text,
            "Settings C:\\update.ini - found; update checks SWITCHED OFF (a "
            "normal run stops here; the check goes on)\r\n"
            "Manifest URL http://a/update.xml - from the settings\r\n"
            "Installed version of C:\\TSRN.DLM.exe - 6.1.32.0\r\n"
            "Manifest download - ok\r\n"
            "    Successfully downloaded update.xml\r\n"
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
  const CheckReport check = checkReport(CheckFacts{}, UpdateFlow(steps, ui, kCheck).run());

  const std::string& report = check.text;
  EXPECT_EQ(report.find('\x1b'), std::string::npos);
  EXPECT_EQ(report.find('\x9b'), std::string::npos);
  EXPECT_EQ(report.find("\nVerdict"), report.rfind("\nVerdict")) << report;
  EXPECT_THAT(report, ::testing::HasSubstr("Compare Version: 6.1.33.0??Verdict: "
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
  CommandLine usage;
  usage.mode = CommandLine::Mode::kUsage;
  usage.problem = "no such switch";
  CommandLine unwritable;
  unwritable.mode = CommandLine::Mode::kCheck;
  unwritable.reportPath = L"/no/such/folder/report.txt";
  CommandLine check;
  check.mode = CommandLine::Mode::kCheck;
  const std::pair<CommandLine, std::string> cases[] = {
      {usage, usageText("no such switch")},
      {unwritable,
       "TsDLMUpdater: cannot write the report to /no/such/folder/report.txt.\r\n"},
      // Last: the log, once open, stays open for the process.
      {check, "TsDLMUpdater: the log was opened before the check.\r\n"},
  };
  (void)Logger::instance();
  for (const auto& [line, printed] : cases) {
    std::string out;
    EXPECT_EQ(runCheckCommand(line, [&out](const std::string& text) { out += text; }),
              kCannotCheck);
    EXPECT_EQ(out, printed);
  }
}
