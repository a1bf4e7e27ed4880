// Gives the user's download manager back when a run that asked it to quit
// ends without starting the installer: the dialog promised that downloads
// start again. A run that started the installer leaves that to it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/processes.h"

class DownloadManagerHandback {
 public:
  // The one record of the process: the worker notes the quit and the
  // installer start, and whichever ending comes first (the worker's, or
  // the shutdown after the user closed the dialog) gives back.
  static DownloadManagerHandback& instance();

  // How long giving back waits for the download manager that quit to end.
  // One that saves its lists may take a few seconds; one that allows a
  // single instance would end a copy started before it has gone.
  static constexpr std::uint32_t kExitWaitMs = 20000;

  // The download manager running from `imagePath` accepted the quit
  // request; `process` is that process, held since before it was asked
  // (null when it could not be held).
  void quitAccepted(const std::wstring& imagePath,
                    platform::HeldProcessHandle process = nullptr);

  // The installer is about to be started. False when the download manager
  // has been started again already (the run is ending): the installer must
  // not start then. Otherwise one of the two calls below must follow.
  [[nodiscard]] bool installerStarting();
  // The installer's process exists: from now on the installer brings the
  // download manager back.
  void installerStarted();
  // The start failed (the user declined elevation, a policy or a virus
  // scanner blocked it, Windows will not run the file): the download
  // manager counts as not given back yet, as before installerStarting.
  void installerNotStarted();

  // Once, when a download manager quit and no installer was started: starts
  // it again from its image path, with no arguments, in its folder, and
  // writes one log entry. Only a path inside the installed download
  // manager's folder is started: an updater with more rights than the
  // user's must not run a program the user could have put elsewhere. While
  // an installer start is under way it waits for its outcome. It first
  // waits, up to kExitWaitMs, for the process that quit to end; one still
  // running then is left running, and the entry says so.
  void giveBack();

 private:
  enum class State { idle, quit, starting, installerStarted, givenBack };

  void endStart(bool started);

  std::mutex mutex_;
  std::condition_variable startEnded_;
  State state_ = State::idle;
  // The state an installer start returns to when it fails.
  State beforeStart_ = State::idle;
  std::wstring imagePath_;
  platform::HeldProcessHandle process_;
};
