#include "app/check_command.h"

#include <cstdio>
#include <memory>

#include "app/release_check.h"
#include "app/update_flow.h"
#include "common/text.h"
#include "config/logger.h"
#include "config/settings.h"
#include "config/util.h"
#include "download/http_downloader.h"
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

CheckFacts machineFacts(const CommandLine& line) {
  CheckFacts facts;
  facts.settingsPath = Util::getSettingsPath();
  facts.settingsFound = platform::fileExists(facts.settingsPath);
  facts.manifestGiven = !line.manifestUrl.empty();
  facts.manifestUrl =
      facts.manifestGiven ? line.manifestUrl : Settings::getUpdateUrl();
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
      return ReleaseCheck::kCannotCheck;
    }
  }

  // First of all, so that nothing can open (and truncate) the two log
  // files: the subsystems' entries come to the report instead. The sink
  // outlives the check, so it reaches it through a pointer cleared after.
  const auto target = std::make_shared<ReleaseCheck*>(nullptr);
  if (!Logger::redirectTo([target](const std::string& message) {
        if (*target != nullptr) (*target)->logEntry(message);
      })) {
    print("TsDLMUpdater: the log was opened before the check.\r\n");
    return ReleaseCheck::kCannotCheck;
  }
  Util::useCheckFolder();
  HttpDownloader::maskTrace = true;
  const CheckFacts facts = machineFacts(line);
  const std::unique_ptr<UpdateSteps> steps =
      makeCheckUpdateSteps(facts.manifestUrl);
  ReleaseCheck releaseCheck(*steps, facts);
  *target = &releaseCheck;
  NoDialog noDialog;
  UpdateFlow(releaseCheck, noDialog).run();
  *target = nullptr;

  const std::string text = releaseCheck.report();
  print(text);
  if (report) {
    const bool written =
        std::fwrite(text.data(), 1, text.size(), report.get()) == text.size();
    if (std::fclose(report.release()) != 0 || !written) {
      print("TsDLMUpdater: the report file is incomplete.\r\n");
      return ReleaseCheck::kCannotCheck;
    }
  }
  return releaseCheck.exitCode();
}

}  // namespace

int runCheckCommand(
    const CommandLine& line,
    const std::function<void(const std::string&)>& print) noexcept {
  try {
    if (line.mode != CommandLine::Mode::kCheck) {
      print(usageText(line.problem));
      return ReleaseCheck::kCannotCheck;
    }
    return check(line, print);
  } catch (...) {
    return ReleaseCheck::kCannotCheck;
  }
}
