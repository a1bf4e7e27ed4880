// The one sequence of steps the worker thread (or the release check) runs:
// decide whether the installed download manager is out of date and, if so,
// replace it.
#pragma once

#include <cstdint>
#include <string>

#include "app/progress_ui.h"
#include "app/update_outcome.h"
#include "app/update_steps.h"

class UpdateFlow {
 public:
  // The installer is fetched at most this many times plus one.
  static constexpr int kInstallerRetries = 2;

  // A check goes on where nothing is installed (a build machine): it still
  // judges the offered installer, with no version to compare.
  // The run's mode is the one of the options the steps were made with.
  UpdateFlow(UpdateSteps& steps, ProgressUi& ui) : steps_(steps), ui_(ui) {}

  // Runs the flow to one of its endings and returns it with the steps taken.
  // Each ending but an installation (done or due) writes its log line and
  // tracks one "error_occurred" event; an exception that escapes a step is
  // one error line that ends the run. Never throws.
  UpdateOutcome run() noexcept;
  // True when an installer that passed the signature, publisher, version
  // and (when the manifest pins one) SHA-256 checks is in place. Retries the
  // download while `retriesLeft` is above 0.
  bool downloadAndVerifyInstaller(int retriesLeft);

 private:
  Ending runSteps();
  // Writes the ending's log line, tracks its event, releases libcurl and
  // gives the download manager back, each as the ending calls for.
  Ending end(Ending ending);
  // The checks of the staged copy, in order, each only after the one before
  // passed: the error entry of the first that fails, or empty.
  std::string refusalOf(const std::wstring& path);
  // The log entries written since the last step go with it.
  void collectEntries();
  // A step begins: its record, which passes unless refused.
  StepRecord& begin(Step step);
  static void refuse(StepRecord& record, std::string reason,
                     bool releaseFault = true, std::int32_t code = 0);

  UpdateSteps& steps_;
  ProgressUi& ui_;
  UpdateOutcome outcome_;
  int attempts_ = 0;
  // The staged copy of the installer that passed the checks, or empty.
  std::wstring staged_;
};
