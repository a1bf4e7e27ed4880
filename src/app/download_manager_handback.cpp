#include "app/download_manager_handback.h"

#include <utility>

#include "common/text.h"
#include "config/logger.h"
#include "config/util.h"
#include "platform/files.h"
#include "platform/processes.h"

DownloadManagerHandback& DownloadManagerHandback::instance() {
  static DownloadManagerHandback handback;
  return handback;
}

void DownloadManagerHandback::quitAccepted(
    const std::wstring& imagePath, platform::HeldProcessHandle process) {
  const std::lock_guard<std::mutex> lock(mutex_);
  state_ = State::quit;
  imagePath_ = imagePath;
  process_ = std::move(process);
}

bool DownloadManagerHandback::installerStarting() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == State::givenBack) return false;
  beforeStart_ = state_;
  state_ = State::starting;
  return true;
}

void DownloadManagerHandback::endStart(bool started) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::starting) return;
    state_ = started ? State::installerStarted : beforeStart_;
  }
  startEnded_.notify_all();
}

void DownloadManagerHandback::installerStarted() { endStart(true); }

void DownloadManagerHandback::installerNotStarted() { endStart(false); }

void DownloadManagerHandback::giveBack() {
  // Held while starting, so that the installer cannot start in between.
  std::unique_lock<std::mutex> lock(mutex_);
  // The user closed the dialog while the system decides on the start (an
  // error box of the shell, say): only its outcome tells whether the
  // installer or this run brings the download manager back.
  startEnded_.wait(lock, [this] { return state_ != State::starting; });
  if (state_ != State::quit) return;
  state_ = State::givenBack;
  const std::wstring folder =
      platform::pathRemoveFileSpec(Util::getInstalledExecutablePath());
  const std::string path = tsdlm::narrowLow8(imagePath_);
  Logger& log = Logger::instance();
  if (folder.empty() ||
      tsdlm::lowerAsciiLetters(imagePath_)
              .rfind(tsdlm::lowerAsciiLetters(folder) + L"\\", 0) != 0) {
    log.writeError(
        "Not starting the DLM again, not in its installation "
        "folder: " +
        path + "\r\n");
    return;
  }
  if (process_ && !platform::waitForProcessEnd(*process_, kExitWaitMs)) {
    log.writeError("The DLM is still running after " +
                   std::to_string(kExitWaitMs / 1000) +
                   " s, not starting it again: " + path + "\r\n");
    return;
  }
  if (!platform::startProgram(imagePath_,
                              platform::pathRemoveFileSpec(imagePath_))) {
    log.writeError("Failed to start the DLM again: " + path + "\r\n");
    return;
  }
  log.write("Started the DLM again: " + path + "\r\n");
}
