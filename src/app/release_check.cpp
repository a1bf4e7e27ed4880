#include "app/release_check.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "app/update_flow.h"
#include "common/text.h"
#include "config/logger.h"
#include "config/settings.h"
#include "config/util.h"
#include "download/http_downloader.h"
#include "manifest/manifest.h"
#include "platform/files.h"

namespace {

constexpr const char* kIndent = "    ";

std::string withoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

std::string orNone(const std::string& text) {
  return text.empty() ? "(none)" : text;
}

// The installer's size as the offer line gives it.
std::string sizeOf(const std::optional<std::uint64_t>& size) {
  return size ? std::to_string(*size) + " bytes"
              : "size not named (at most " +
                    std::to_string(HttpDownloader::kInstallerCap) + " bytes)";
}

std::string reasonOf(const std::string& reason) {
  const std::string shown = withoutLineEnd(reason);
  return shown.empty()
             ? "no reason logged (offline, or a file that cannot be written)"
             : shown;
}

// What a failed step means for the release, as the verdict says it.
std::string failureOf(const StepRecord& record) {
  switch (record.step) {
    case Step::kManifestDownload:
      return "the manifest could not be downloaded: " + reasonOf(record.reason);
    case Step::kInstallerDownload:
      return "the installer could not be downloaded: " +
             reasonOf(record.reason);
    default:
      return reasonOf(record.reason);
  }
}

// "ok" or "FAILED - reason" for a transfer or the copy; "REFUSED - reason"
// for a check the release failed.
std::string resultOf(const StepRecord& record, const std::string& passed) {
  if (record.passed) return passed;
  const bool check = record.step != Step::kManifestDownload &&
                     record.step != Step::kInstallerDownload &&
                     record.step != Step::kInstallerCopy;
  return std::string(check && record.releaseFault ? "REFUSED" : "FAILED") +
         " - " + reasonOf(record.reason);
}

std::string stepLine(const CheckFacts& facts, const StepRecord& record) {
  const std::string& value = record.value;
  switch (record.step) {
    case Step::kInstalledVersion:
      return "Installed version of " + tsdlm::narrowLow8(facts.installedPath) +
             " - " +
             (value.empty() ? "none: no download manager installed here; the "
                              "version comparison is skipped"
                            : value);
    case Step::kManifestDownload:
      return "Manifest download - " + resultOf(record, "ok");
    case Step::kManifestSignature:
      return "Manifest signature - " + value + " - " +
             (record.skipped ? std::string("the manifest is used unsigned")
                             : resultOf(record, "valid"));
    case Step::kOffer:
      return "Manifest reading - offers version " + orNone(value) +
             ", installer " + orNone(withoutPassword(facts.installerUrl)) +
             ", " + sizeOf(facts.installerSize);
    case Step::kVersionComparison:
      return std::string("Version comparison - ") +
             (record.skipped  ? "skipped (nothing installed)"
              : record.passed ? "the offered version is newer: a normal run "
                                "updates"
                              : "the offered version is not newer: a normal "
                                "run stops here");
    case Step::kDownloadManager:
      return "Download manager - " +
             (value.empty() ? std::string("not running")
                            : "running (process " + value +
                                  "); a check never asks it to quit");
    case Step::kInstallerDownload:
      return "Installer download (attempt " + value + ") - " +
             resultOf(record, "ok");
    case Step::kInstallerCopy:
      return "Installer copy - " + resultOf(record, "held at " + value);
    case Step::kSignature:
      return "Signature - " + resultOf(record, "valid");
    case Step::kPublisher:
      return "Publisher " + value + " - " +
             resultOf(record, "the signer's certificate names it");
    case Step::kOwnVersion:
      return "Installer's own version " + orNone(value) + " - " +
             resultOf(record, "the offered version");
    case Step::kSha256:
      return "Installer SHA-256 - " +
             (record.skipped ? std::string("not pinned by the manifest")
                             : resultOf(record, "matches the manifest"));
    case Step::kInstallerStart:
      return "Installer start - skipped: a normal run starts " + value +
             " -quiet here";
  }
  return std::string();
}

// The verdict's text and exit code.
std::pair<std::string, CheckExit> verdictOf(const UpdateOutcome& outcome) {
  const StepRecord* offer = outcome.find(Step::kOffer);
  const std::string offered = orNone(offer != nullptr ? offer->value : "");
  const StepRecord* installedRecord = outcome.find(Step::kInstalledVersion);
  const std::string installed =
      installedRecord != nullptr ? installedRecord->value : "";
  switch (outcome.ending) {
    case Ending::kManifestRefused: {
      const StepRecord* signature = outcome.find(Step::kManifestSignature);
      const std::string why = signature != nullptr ? reasonOf(signature->reason)
                                                   : reasonOf(outcome.reason);
      if (signature != nullptr && signature->releaseFault) {
        return {"the manifest would be refused: " + why, kRefused};
      }
      return {"cannot check: " + why, kCannotCheck};
    }
    case Ending::kNoUsableOffer:
      return {
          "the offered release would be refused: the manifest offers "
          "no usable version (" +
              offered + ")",
          kRefused};
    case Ending::kUpToDate:
      return {"up to date: the installed version " + installed +
                  " is not older than the offered " + offered,
              kWouldInstall};
    case Ending::kWouldInstall:
      return {
          "the offered release " + offered + " would install" +
              (installed.empty() ? " (nothing installed here to compare)" : ""),
          kWouldInstall};
    default:
      break;
  }
  // Each failed attempt ends with one failed step. Refused only when the
  // release was at fault every time: otherwise this machine or its network
  // kept the check from judging it.
  const StepRecord* last = nullptr;
  const StepRecord* notRelease = nullptr;
  for (const StepRecord& record : outcome.steps) {
    if (record.passed) continue;
    last = &record;
    if (!record.releaseFault) notRelease = &record;
  }
  if (outcome.ending == Ending::kInstallerNotObtained && last != nullptr &&
      notRelease == nullptr) {
    return {"the offered release " + offered +
                " would be refused: " + failureOf(*last),
            kRefused};
  }
  return {"cannot check: " +
              (outcome.ending == Ending::kUnexpected || notRelease == nullptr
                   ? reasonOf(outcome.reason)
                   : failureOf(*notRelease)),
          kCannotCheck};
}

// The check shows no dialog.
class NoDialog final : public ProgressUi {
 public:
  void prepareDialogTexts() override {}
  void show() override {}
  bool reportProgress(int) override { return true; }
  void showInstalling() override {}
  void closeAction() override {}
};

CheckFacts machineFacts(const CommandLine& line, const RunOptions& options) {
  CheckFacts facts;
  facts.settingsPath = Util::getSettingsPath();
  facts.settingsFound = platform::fileExists(facts.settingsPath);
  facts.manifestGiven = !line.manifestUrl.empty();
  facts.manifestUrl = options.manifestUrl;
  facts.checksSwitchedOn = Settings::checkForUpdates();
  facts.installedPath = Util::getInstalledExecutablePath();
  return facts;
}

int check(const CommandLine& line,
          const std::function<void(const std::string&)>& print) {
  // The report file first: a path that cannot be written stops the check
  // before it does anything.
  platform::FileStream report;
  if (!line.reportPath.empty()) {
    report.reset(platform::openFile(line.reportPath, L"wb"));
    if (!report) {
      print("TsDLMUpdater: cannot write the report to " +
            tsdlm::narrowLow8(line.reportPath) + ".\r\n");
      return kCannotCheck;
    }
  }

  // First of all, so that nothing can open (and truncate) the two log
  // files: the check's log is kept in memory for the report.
  const RunOptions options = runOptionsFor(line);
  if (!Logger::start(options)) {
    print("TsDLMUpdater: the log was opened before the check.\r\n");
    return kCannotCheck;
  }
  CheckFacts facts = machineFacts(line, options);
  const std::unique_ptr<UpdateSteps> steps = makeUpdateSteps(options);
  NoDialog noDialog;
  const UpdateOutcome outcome = UpdateFlow(*steps, noDialog).run();
  facts.installerUrl = steps->manifest().getWindowsInstallerUrl();
  facts.installerSize = steps->manifest().getWindowsInstallerSize();
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

CheckReport checkReport(const CheckFacts& facts, const UpdateOutcome& outcome) {
  CheckReport report;
  const auto add = [&report](const std::string& line) {
    // The manifest's texts and the server's answers end up in the report:
    // a line break or an escape sequence there could forge a line (a
    // verdict) or drive the terminal.
    report.text += tsdlm::withoutControls(line) + "\r\n";
  };
  const auto addEntries = [&add](const std::vector<std::string>& entries) {
    for (const std::string& entry : entries)
      add(kIndent + withoutLineEnd(entry));
  };
  std::string settings = facts.settingsFound ? "found" : "not found, defaults";
  settings += facts.checksSwitchedOn
                  ? "; update checks on"
                  : "; update checks SWITCHED OFF (a normal run stops here; "
                    "the check goes on)";
  add("Settings " + tsdlm::narrowLow8(facts.settingsPath) + " - " + settings);
  add("Manifest URL " + withoutPassword(facts.manifestUrl) + " - " +
      (facts.manifestGiven ? "given with /manifest" : "from the settings"));
  addEntries(outcome.entries);
  for (const StepRecord& record : outcome.steps) {
    add(stepLine(facts, record));
    addEntries(record.entries);
  }
  const auto [verdict, exitCode] = verdictOf(outcome);
  add("Verdict: " + verdict);
  report.exitCode = exitCode;
  return report;
}

std::string withoutPassword(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const std::size_t authority = scheme + 3;
  const std::size_t end = url.find_first_of("/?#", authority);
  const std::size_t at =
      url.rfind('@', end == std::string::npos ? url.size() - 1 : end - 1);
  if (at == std::string::npos || at < authority) return url;
  const std::size_t colon = url.find(':', authority);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon + 1) + "****" + url.substr(at);
}

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
