#include "app/download_manager_handback.h"

#include "common/text.h"
#include "config/logger.h"
#include "config/util.h"
#include "platform/files.h"
#include "platform/processes.h"

DownloadManagerHandback& DownloadManagerHandback::instance() {
  static DownloadManagerHandback handback;
  return handback;
}

void DownloadManagerHandback::quitAccepted(const std::wstring& imagePath) {
  const std::lock_guard<std::mutex> lock(mutex_);
  state_ = State::quit;
  imagePath_ = imagePath;
}

bool DownloadManagerHandback::installerStarting() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == State::givenBack) return false;
  state_ = State::installerStarted;
  return true;
}

void DownloadManagerHandback::giveBack() {
  // Held while starting, so that the installer cannot start in between.
  const std::lock_guard<std::mutex> lock(mutex_);
  if (state_ != State::quit) return;
  state_ = State::givenBack;
  const std::wstring folder =
      platform::pathRemoveFileSpec(Util::getInstalledExecutablePath());
  const std::string path = tsdlm::narrowLow8(imagePath_);
  Logger& log = Logger::instance();
  if (folder.empty() ||
      tsdlm::lowerAsciiLetters(imagePath_)
              .rfind(tsdlm::lowerAsciiLetters(folder) + L"\\", 0) != 0) {
    log.writeError("Not starting the DLM again, not in its installation "
                   "folder: " + path + "\r\n");
    return;
  }
  if (!platform::startProgram(imagePath_,
                              platform::pathRemoveFileSpec(imagePath_))) {
    log.writeError("Failed to start the DLM again: " + path + "\r\n");
    return;
  }
  log.write("Started the DLM again: " + path + "\r\n");
}
