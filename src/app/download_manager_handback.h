// Gives the user's download manager back when a run that asked it to quit
// ends without starting the installer: the dialog promised that downloads
// start again. A run that started the installer leaves that to it.
#pragma once

#include <mutex>
#include <string>

class DownloadManagerHandback {
 public:
  // The one record of the process: the worker notes the quit and the
  // installer start, and whichever ending comes first (the worker's, or
  // the shutdown after the user closed the dialog) gives back.
  static DownloadManagerHandback& instance();

  // The download manager running from `imagePath` accepted the quit request.
  void quitAccepted(const std::wstring& imagePath);

  // The installer is about to be started. False when the download manager
  // has been started again already (the run is ending): the installer must
  // not start then.
  [[nodiscard]] bool installerStarting();

  // Once, when a download manager quit and no installer was started: starts
  // it again from its image path, with no arguments, in its folder, and
  // writes one log entry. Only a path inside the installed download
  // manager's folder is started: an updater with more rights than the
  // user's must not run a program the user could have put elsewhere.
  void giveBack();

 private:
  enum class State { idle, quit, installerStarted, givenBack };

  std::mutex mutex_;
  State state_ = State::idle;
  std::wstring imagePath_;
};
