#include "app/update_flow.h"

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
  }
}

bool UpdateFlow::downloadAndVerifyInstaller(int retriesLeft) {
  ProgressUi* ui = &ui_;
  if (!steps_.getInstaller(
          [ui](int percent) { return ui->reportProgress(percent); })) {
    // A failed download is not retried.
    return false;
  }
  const std::wstring path = steps_.getInstallerPath();
  const bool valid = steps_.verifySignature(path) == 0 &&
                     steps_.verifyPublisher(path, kExpectedPublisher);
  if (valid) return true;

  steps_.logError("Signature is not valid.\r\n");
  if (retriesLeft <= 0) return false;
  steps_.logInfo("Retrying...\r\n");
  return downloadAndVerifyInstaller(retriesLeft - 1);
}

int UpdateFlow::installUpdate() {
  ui_.showInstalling();
  const std::wstring path = steps_.getInstallerPath();
  const bool installed = steps_.launchInstaller(path);
  steps_.curlGlobalCleanup();
  return installed ? 0 : 2;
}

void runUpdateFlow(ProgressUi& ui) {
  const std::unique_ptr<UpdateSteps> steps = makeRealUpdateSteps();
  UpdateFlow(*steps, ui).runUpdateFlow();
}
