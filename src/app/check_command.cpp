#include "app/check_command.h"

#include <cstdio>
#include <memory>

#include "app/release_check.h"
#include "app/update_flow.h"
#include "common/text.h"
#include "config/logger.h"
#include "config/settings.h"
#include "config/util.h"
#include "manifest/manifest.h"
#include "platform/files.h"

namespace {

// The check shows no dialog.
class NoDialog final : public ProgressUi {
 public:
  void prepareDialogTexts() override {}
  void show() override {}
  bool reportProgress(int) override { return true; }
  void showInstalling() override {}
  void closeAction() override {}
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The options of a check: its own folder beside the working folder (which
// stays untouched), the log kept for the report, libcurl's trace masked
// for the console.
RunOptions checkOptions(const CommandLine& line) {
  RunOptions options;
  options.mode = RunOptions::Mode::kCheck;
  options.workingFolder = L"TsDLM-check";
  options.manifestUrl =
      line.manifestUrl.empty() ? Settings::getUpdateUrl() : line.manifestUrl;
  options.maskTrace = true;
  options.journal = std::make_shared<LogJournal>();
  return options;
}

CheckFacts machineFacts(const CommandLine& line, const RunOptions& options) {
  CheckFacts facts;
  facts.settingsPath = Util::getSettingsPath();
  facts.settingsFound = platform::fileExists(facts.settingsPath);
  facts.manifestGiven = !line.manifestUrl.empty();
  facts.manifestUrl = options.manifestUrl;
  facts.checksSwitchedOn = Settings::checkForUpdates();
  facts.installedPath = Util::getInstalledExecutablePath();
  facts.installerUrl = [] { return Manifest::getWindowsInstallerUrl(); };
  return facts;
}

int check(const CommandLine& line,
          const std::function<void(const std::string&)>& print) {
  // The report file first: a path that cannot be written stops the check
  // before it does anything.
  std::unique_ptr<std::FILE, FileCloser> report;
  if (!line.reportPath.empty()) {
    report.reset(platform::openFile(line.reportPath, L"wb"));
    if (!report) {
      print("TsDLMUpdater: cannot write the report to " +
            tsdlm::narrowLow8(line.reportPath) + ".\r\n");
      return kCannotCheck;
    }
  }

  // First of all, so that nothing can open (and truncate) the two log
  // files: the subsystems' entries go to the check's journal instead.
  const RunOptions options = checkOptions(line);
  if (!Logger::start(options)) {
    print("TsDLMUpdater: the log was opened before the check.\r\n");
    return kCannotCheck;
  }
  const CheckFacts facts = machineFacts(line, options);
  const std::unique_ptr<UpdateSteps> steps = makeUpdateSteps(options);
  NoDialog noDialog;
  const UpdateOutcome outcome =
      UpdateFlow(*steps, noDialog, RunOptions::Mode::kCheck).run();
  const CheckReport checked = checkReport(facts, outcome);

  const std::string& text = checked.text;
  print(text);
  if (report) {
    const bool written =
        std::fwrite(text.data(), 1, text.size(), report.get()) == text.size();
    if (std::fclose(report.release()) != 0 || !written) {
      print("TsDLMUpdater: the report file is incomplete.\r\n");
      return kCannotCheck;
    }
  }
  return checked.exitCode;
}

}  // namespace

int runCheckCommand(
    const CommandLine& line,
    const std::function<void(const std::string&)>& print) noexcept {
  try {
    if (line.mode != CommandLine::Mode::kCheck) {
      print(usageText(line.problem));
      return kCannotCheck;
    }
    return check(line, print);
  } catch (...) {
    return kCannotCheck;
  }
}
