// Scripted stand-ins for the update flow's steps and its dialog, shared by
// the flow's tests and the release check's.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/progress_ui.h"
#include "app/update_steps.h"

namespace testing_support {

// The staged copy's SHA-256 unless an attempt says otherwise.
inline const std::string kDigest(64, 'a');

inline ManifestTrust unsignedManifest() {
  ManifestTrust trust;
  trust.summary = "not signed";
  return trust;
}

struct Script {
  std::string installedVersion = "6.1.32.0";
  bool manifestDownloaded = true;
  bool manifestThrows = false;
  // What the manifest's signature check finds (by default: unsigned, used).
  ManifestTrust manifestTrust = unsignedManifest();
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
      : script_(std::move(script)), check_(check) {
    options_.mode =
        check ? RunOptions::Mode::kCheck : RunOptions::Mode::kUpdate;
  }

  const RunOptions& options() const override { return options_; }
  const Manifest& manifest() const override { return manifest_; }

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
  ManifestTrust checkManifestSignature() override {
    trace.push_back("checkManifestSignature");
    return script_.manifestTrust;
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
    trace.push_back("verifyPublisher " +
                    std::string(subject.begin(), subject.end()));
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
  RunOptions options_;
  Manifest manifest_;
  Script::Attempt current_{false, 0, false};
  std::vector<std::string> journal_;
};

class RecordingUi : public ProgressUi {
 public:
  // Shows the dialog's appearance in `trace` as well, if given.
  explicit RecordingUi(std::vector<std::string>* trace = nullptr)
      : trace_(trace) {}
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

inline Script with(void (*change)(Script&)) {
  Script script;
  change(script);
  return script;
}

// The default script with these installer attempts.
inline Script withAttempts(std::deque<Script::Attempt> attempts) {
  Script script;
  script.attempts = std::move(attempts);
  return script;
}

inline const std::int32_t kNoSignature = static_cast<std::int32_t>(0x800B0100u);

}  // namespace testing_support
