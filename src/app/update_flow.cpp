#include "app/update_flow.h"

#include <exception>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "common/text.h"
#include "config/util.h"
#include "manifest/manifest.h"
#include "trust/installer_trust.h"
#include "trust/manifest_trust.h"

namespace {

constexpr const char* kNotNewer =
    "Server version is Not higher than installed version, return now\r\n";

// What each ending writes and tracks as the "error_occurred" event; null:
// nothing. A switch without a default: an ending added to the enum and not
// here does not compile (-Wswitch, warnings are errors).
struct EndingReport {
  const char* line;
  const wchar_t* event;
  bool error;  // the line is an error entry
};
constexpr EndingReport reportOf(Ending ending) {
  switch (ending) {
    case Ending::kInstalled:
    case Ending::kWouldInstall:
    case Ending::kUnexpected:  // writes its own line
      return {nullptr, nullptr, false};
    case Ending::kNoInstalledVersion:
      return {"Cannot get installed version.\r\n",
              L"get installed version failed", true};
    case Ending::kManifestNotDownloaded:
      return {"Cannot download update.xml, return now\r\n",
              L"download update.xml failed", true};
    case Ending::kManifestRefused:
      return {kManifestRefusedLine, L"update.xml refused", true};
    // An offer that cannot be read is never newer: the same line and event.
    case Ending::kUpToDate:
    case Ending::kNoUsableOffer:
      return {kNotNewer, L"installed version is up-to-date", false};
    case Ending::kQuitRefused:
      return {nullptr, L"failed to exit download manager", false};
    case Ending::kInstallerNotObtained:
      return {"Failed to download Installer, return now\r\n",
              L"download installer failed", true};
    case Ending::kInstallFailed:
      return {"Failed to install, return now\r\n", L"install failed", true};
  }
  return {nullptr, nullptr, false};
}

// libcurl codes of a download that the release got wrong, not the network:
// 1 unsupported protocol, 3 malformed URL, 22 an HTTP error status, 47 too
// many redirects.
bool isReleaseFault(int curlCode) {
  return curlCode == 1 || curlCode == 3 || curlCode == 22 || curlCode == 47;
}

void log(UpdateSteps& steps, bool error, const std::string& entry) {
  if (error) return steps.logError(entry);
  steps.logInfo(entry);
}

}  // namespace

void UpdateFlow::collectEntries() {
  std::vector<std::string> entries = steps_.takeLogEntries();
  std::vector<std::string>& into =
      outcome_.steps.empty() ? outcome_.entries : outcome_.steps.back().entries;
  into.insert(into.end(), std::make_move_iterator(entries.begin()),
              std::make_move_iterator(entries.end()));
}

StepRecord& UpdateFlow::begin(Step step) {
  collectEntries();
  outcome_.steps.emplace_back();
  outcome_.steps.back().step = step;
  return outcome_.steps.back();
}

void UpdateFlow::refuse(StepRecord& record, std::string reason,
                        bool releaseFault, std::int32_t code) {
  record.passed = false;
  record.reason = std::move(reason);
  record.releaseFault = releaseFault;
  record.code = code;
}

Ending UpdateFlow::end(Ending ending) {
  const EndingReport report = reportOf(ending);
  if (report.line != nullptr) log(steps_, report.error, report.line);
  if (report.event != nullptr) {
    steps_.track(L"error_occurred", L"error_string", report.event);
  }
  // An installation releases libcurl itself, before its outcome is known.
  if (ending != Ending::kInstallFailed) steps_.curlGlobalCleanup();
  // Does nothing unless the download manager was asked to quit and no
  // installer process was started.
  if (ending == Ending::kInstallerNotObtained ||
      ending == Ending::kInstallFailed) {
    steps_.giveBackDownloadManager();
  }
  return ending;
}

Ending UpdateFlow::runSteps() {
  steps_.curlGlobalInit();

  StepRecord& installedStep = begin(Step::kInstalledVersion);
  const std::string installed = installedStep.value =
      steps_.getInstalledVersion();
  // Nothing installed fails a normal run only: a check goes on.
  installedStep.passed = !installed.empty() || steps_.options().isCheck();
  if (!installedStep.passed) return end(Ending::kNoInstalledVersion);

  StepRecord& manifestStep = begin(Step::kManifestDownload);
  const Transfer manifest = steps_.getUpdateXml();
  if (!manifest) {
    refuse(manifestStep, manifest.error, false, manifest.code);
    return end(Ending::kManifestNotDownloaded);
  }
  steps_.logInfo("Successfully downloaded update.xml\r\n");

  // Before anything is read from it: a refused manifest offers nothing,
  // and the download manager is never asked to quit for it.
  StepRecord& signatureStep = begin(Step::kManifestSignature);
  const ManifestTrust trust = steps_.checkManifestSignature();
  signatureStep.value = trust.summary + "; a signature is " +
                        (trust.required ? "required" : "not required");
  signatureStep.skipped = trust.usable && !trust.present;
  if (!trust.entry.empty()) log(steps_, !trust.usable, trust.entry);
  if (!trust.usable) {
    refuse(signatureStep, trust.entry, trust.releaseFault);
    return end(Ending::kManifestRefused);
  }

  StepRecord& offer = begin(Step::kOffer);
  const std::string offered = offer.value = steps_.getServerVersion();
  StepRecord& comparison = begin(Step::kVersionComparison);
  comparison.skipped = installed.empty();
  if (!comparison.skipped) {
    comparison.passed = steps_.isVersionHigher(offered, installed);
    if (!comparison.passed) {
      return end(Util::splitVersion(offered).size() == 4
                     ? Ending::kUpToDate
                     : Ending::kNoUsableOffer);
    }
  }

  StepRecord& found = begin(Step::kDownloadManager);
  const std::uint32_t downloadManager = steps_.findDownloadManager();
  if (downloadManager != 0) {
    found.value = std::to_string(downloadManager);
    const UpdateSteps::Act quit = steps_.quitDownloadManager(downloadManager);
    if (quit == UpdateSteps::Act::kFailed) return end(Ending::kQuitRefused);
    // The flow does not wait for the download manager's process to end.
    if (quit == UpdateSteps::Act::kDone) {
      steps_.logInfo("Successfully quit the DLM\r\n");
    }
  }

  ui_.prepareDialogTexts();
  ui_.show();

  if (!downloadAndVerifyInstaller(kInstallerRetries)) {
    return end(Ending::kInstallerNotObtained);
  }
  steps_.logInfo("Successfully downloaded Installer, install it now\r\n");

  ui_.showInstalling();
  StepRecord& start = begin(Step::kInstallerStart);
  start.value = tsdlm::narrowLow8(staged_);
  // The copy that passed the checks, still held.
  const UpdateSteps::Act started = steps_.launchInstaller(staged_);
  start.passed = started != UpdateSteps::Act::kFailed;
  steps_.removeStagedInstaller();
  staged_.clear();
  steps_.curlGlobalCleanup();
  if (started == UpdateSteps::Act::kWouldDo) return Ending::kWouldInstall;
  if (started == UpdateSteps::Act::kDone) return Ending::kInstalled;
  return end(Ending::kInstallFailed);
}

bool UpdateFlow::downloadAndVerifyInstaller(int retriesLeft) {
  ProgressUi* ui = &ui_;
  StepRecord& download = begin(Step::kInstallerDownload);
  download.value = std::to_string(++attempts_);
  const Transfer fetched = steps_.getInstaller(
      [ui](int percent) { return ui->reportProgress(percent); });
  if (!fetched) {
    // A failed download is not retried.
    refuse(download, fetched.error, isReleaseFault(fetched.code), fetched.code);
    return false;
  }
  // The checks and the launch work on a held copy in a folder of its own:
  // nobody can change the file between the two, and nothing planted in the
  // working folder is loaded with it. The download stays for reuse.
  StepRecord& copy = begin(Step::kInstallerCopy);
  staged_ = steps_.stageInstaller(steps_.getInstallerPath());
  copy.value = tsdlm::narrowLow8(staged_);
  if (staged_.empty()) {
    refuse(copy, "the installer could not be copied into a folder of its own",
           false);
    steps_.logError("Cannot copy the installer into a folder of its own.\r\n");
    return false;
  }
  const std::string refusal = refusalOf(staged_);
  if (refusal.empty()) return true;
  steps_.logError(refusal);
  steps_.removeStagedInstaller();
  staged_.clear();
  if (retriesLeft <= 0) return false;
  steps_.logInfo("Retrying...\r\n");
  return downloadAndVerifyInstaller(retriesLeft - 1);
}

std::string UpdateFlow::refusalOf(const std::wstring& path) {
  const std::string invalid = "Signature is not valid.\r\n";
  StepRecord& signatureStep = begin(Step::kSignature);
  const UpdateSteps::Signature signature = steps_.verifySignature(path);
  if (signature.status != 0) {
    refuse(signatureStep, signature.entry, true, signature.status);
    return invalid;
  }
  StepRecord& publisher = begin(Step::kPublisher);
  publisher.value = tsdlm::narrowLow8(kExpectedPublisher);
  std::string entry;
  if (!steps_.verifyPublisher(signature.signer, kExpectedPublisher, entry)) {
    refuse(publisher, entry);
    return invalid;
  }

  // A genuine but older installer must not pass for the offered version:
  // the manifest is not signed.
  StepRecord& version = begin(Step::kOwnVersion);
  version.value = steps_.getStagedInstallerVersion();
  const std::string offered = steps_.getServerVersion();
  if (!Util::isSameVersion(version.value, offered)) {
    const std::string mismatch =
        "installer's version " +
        (version.value.empty() ? "(none)" : version.value) +
        " is not the offered version " + offered;
    refuse(version, "the " + mismatch);
    return "The " + mismatch + ".\r\n";
  }

  // Nor another genuine program with that version: a manifest that pins
  // the installer's bytes admits those bytes only.
  StepRecord& digest = begin(Step::kSha256);
  const std::optional<std::string> pinned = steps_.getInstallerPin();
  digest.skipped = !pinned;
  if (!pinned) return std::string();
  digest.value = steps_.getStagedInstallerSha256();
  if (Manifest::matchesSha256(*pinned, digest.value)) return std::string();
  const std::string mismatch =
      "installer's SHA-256 " +
      (digest.value.empty() ? "(none)" : digest.value) +
      " is not the one the manifest names (" + *pinned + ")";
  const bool computed = !digest.value.empty();
  refuse(digest,
         computed ? "the " + mismatch
                  : "the installer's SHA-256 could not be computed",
         computed);
  return "The " + mismatch + ".\r\n";
}

UpdateOutcome UpdateFlow::run() noexcept {
  try {
    try {
      outcome_.ending = runSteps();
    } catch (const std::exception& error) {
      outcome_.ending = Ending::kUnexpected;
      outcome_.reason =
          std::string("Unexpected error (") + error.what() + "), return now";
      steps_.logError(outcome_.reason + "\r\n");
    } catch (...) {
      outcome_.ending = Ending::kUnexpected;
      outcome_.reason = "Unexpected error (unknown), return now";
      steps_.logError(outcome_.reason + "\r\n");
    }
    collectEntries();
  } catch (...) {
    // Not even the log could take it: the run still ends normally.
  }
  return std::move(outcome_);
}
