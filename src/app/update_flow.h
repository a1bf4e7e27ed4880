// The one sequence of steps the worker thread runs: decide whether the
// installed download manager is out of date and, if so, replace it.
#pragma once

#include "app/progress_ui.h"
#include "app/update_steps.h"

#include <string>

class UpdateFlow {
 public:
  // The publisher whose signature an installer must carry.
  static constexpr const wchar_t* kExpectedPublisher = L"Tessarin, Inc";
  // The installer is fetched at most this many times plus one.
  static constexpr int kInstallerRetries = 2;

  UpdateFlow(UpdateSteps& steps, ProgressUi& ui) : steps_(steps), ui_(ui) {}

  // Runs the flow to one of its endings. Each ending other than a successful
  // installation writes its log line and tracks one "error_occurred" event.
  void runUpdateFlow();
  // runUpdateFlow, with an exception that escapes it (a hostile answer that
  // exhausts memory, say) written as one error line that ends the run like
  // any other ending. Never throws.
  void run() noexcept;
  // True when an installer that passed the signature, publisher, version
  // and (when the manifest pins one) SHA-256 checks is in place. Retries the
  // download while `retriesLeft` is above 0.
  bool downloadAndVerifyInstaller(int retriesLeft);
  // 0 when the installer ran and exited with 0, otherwise 2.
  int installUpdate();

 private:
  void fail(const std::string& errorLine, const wchar_t* eventText);
  void endWithEvent(const wchar_t* eventText);
  // The checks of the staged copy at `path`, in order, each only after the
  // one before passed: the error entry of the first that fails, or empty.
  std::string refusalOf(const std::wstring& path);

  UpdateSteps& steps_;
  ProgressUi& ui_;
  // The staged copy of the installer that passed the checks, or empty.
  std::wstring staged_;
};

// Runs the flow against the real subsystems; the worker thread's top.
// Never throws.
void runUpdateFlow(ProgressUi& ui) noexcept;
