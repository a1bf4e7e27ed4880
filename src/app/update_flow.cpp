#include "app/update_flow.h"

#include "config/util.h"
#include "manifest/manifest.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr const wchar_t* kEvent = L"error_occurred";
constexpr const wchar_t* kEventKey = L"error_string";

}  // namespace

void UpdateFlow::endWithEvent(const wchar_t* eventText) {
  steps_.track(kEvent, kEventKey, eventText);
  steps_.curlGlobalCleanup();
}

void UpdateFlow::fail(const std::string& errorLine, const wchar_t* eventText) {
  steps_.logError(errorLine);
  endWithEvent(eventText);
}

void UpdateFlow::runUpdateFlow() {
  steps_.curlGlobalInit();

  const std::string installed = steps_.getInstalledVersion();
  if (installed.empty()) {
    fail("Cannot get installed version.\r\n", L"get installed version failed");
    return;
  }

  if (!steps_.getUpdateXml()) {
    fail("Cannot download update.xml, return now\r\n",
         L"download update.xml failed");
    return;
  }
  steps_.logInfo("Successfully downloaded update.xml\r\n");

  const std::string offered = steps_.getServerVersion();
  if (!steps_.isVersionHigher(offered, installed)) {
    steps_.logInfo(
        "Server version is Not higher than installed version, return now\r\n");
    endWithEvent(L"installed version is up-to-date");
    return;
  }

  const std::uint32_t downloadManager = steps_.findDownloadManager();
  if (downloadManager != 0) {
    if (!steps_.quitDownloadManager(downloadManager)) {
      endWithEvent(L"failed to exit download manager");
      return;
    }
    // The flow does not wait for the download manager's process to end.
    steps_.logInfo("Successfully quit the DLM\r\n");
  }

  ui_.prepareDialogTexts();
  ui_.show();

  if (!downloadAndVerifyInstaller(kInstallerRetries)) {
    fail("Failed to download Installer, return now\r\n",
         L"download installer failed");
    steps_.giveBackDownloadManager();
    return;
  }
  steps_.logInfo("Successfully downloaded Installer, install it now\r\n");

  // installUpdate releases libcurl itself on both of its outcomes.
  if (installUpdate() != 0) {
    steps_.logError("Failed to install, return now\r\n");
    steps_.track(kEvent, kEventKey, L"install failed");
    // Does nothing once the installer's process existed.
    steps_.giveBackDownloadManager();
  }
}

bool UpdateFlow::downloadAndVerifyInstaller(int retriesLeft) {
  ProgressUi* ui = &ui_;
  if (!steps_.getInstaller(
          [ui](int percent) { return ui->reportProgress(percent); })) {
    // A failed download is not retried.
    return false;
  }
  // The checks and the launch work on a held copy in a folder of its own:
  // nobody can change the file between the two, and nothing planted in the
  // working folder is loaded with it. The download stays for reuse.
  staged_ = steps_.stageInstaller(steps_.getInstallerPath());
  const std::wstring path = staged_;
  if (path.empty()) {
    steps_.logError("Cannot copy the installer into a folder of its own.\r\n");
    return false;
  }
  const std::string refusal = refusalOf(path);
  if (refusal.empty()) return true;
  steps_.logError(refusal);
  steps_.removeStagedInstaller();
  staged_.clear();
  if (retriesLeft <= 0) return false;
  steps_.logInfo("Retrying...\r\n");
  return downloadAndVerifyInstaller(retriesLeft - 1);
}

std::string UpdateFlow::refusalOf(const std::wstring& path) {
  if (steps_.verifySignature(path) != 0 ||
      !steps_.verifyPublisher(path, kExpectedPublisher)) {
    return "Signature is not valid.\r\n";
  }
  // A genuine but older installer must not pass for the offered version:
  // the manifest is not signed.
  const std::string own = steps_.getStagedInstallerVersion();
  const std::string offered = steps_.getServerVersion();
  if (!Util::isSameVersion(own, offered)) {
    return "The installer's version " + (own.empty() ? "(none)" : own) +
           " is not the offered version " + offered + ".\r\n";
  }
  // Nor another genuine program with that version: a manifest that pins
  // the installer's bytes admits those bytes only.
  const std::optional<std::string> pinned = steps_.getInstallerPin();
  if (!pinned) return std::string();
  const std::string actual = steps_.getStagedInstallerSha256();
  if (Manifest::matchesSha256(*pinned, actual)) return std::string();
  return "The installer's SHA-256 " + (actual.empty() ? "(none)" : actual) +
         " is not the one the manifest names (" + *pinned + ").\r\n";
}

int UpdateFlow::installUpdate() {
  ui_.showInstalling();
  // The copy that passed the checks, still held.
  const bool installed = steps_.launchInstaller(staged_);
  steps_.removeStagedInstaller();
  staged_.clear();
  steps_.curlGlobalCleanup();
  return installed ? 0 : 2;
}

namespace {

std::string unexpectedLine(const char* what) {
  return std::string("Unexpected error (") + what + "), return now\r\n";
}

}  // namespace

void UpdateFlow::run() noexcept {
  try {
    try {
      runUpdateFlow();
    } catch (const std::exception& error) {
      steps_.logError(unexpectedLine(error.what()));
    } catch (...) {
      steps_.logError(unexpectedLine("unknown"));
    }
  } catch (...) {
    // Not even the log could take it: the run still ends normally.
  }
}

void runUpdateFlow(ProgressUi& ui) noexcept {
  try {
    const std::unique_ptr<UpdateSteps> steps = makeRealUpdateSteps();
    UpdateFlow(*steps, ui).run();
  } catch (...) {
    // Only the steps' creation can get here (out of memory at start).
  }
}
