// What one run of the update flow came to: its ending and the steps it took,
// each with what it found. Everything that reports the run derives from this
// one value: the log's last line and the analytics event (the flow), and the
// release check's report, verdict and exit code.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

enum class Ending {
  kInstalled,     // the installer ran and exited with 0
  kWouldInstall,  // a check: the installer passed every check
  kNoInstalledVersion,
  kManifestNotDownloaded,
  kManifestRefused,  // its signature or expiry refused it
  kUpToDate,
  kNoUsableOffer,  // the manifest's version cannot be read
  kQuitRefused,
  kInstallerNotObtained,  // not downloaded, or refused on every attempt
  kInstallFailed,
  kUnexpected,  // an exception ended the run
};

// A step; its value is what it found (a version, a process id, a path...).
enum class Step {
  kInstalledVersion,
  kManifestDownload,
  kManifestSignature,
  kOffer,
  kVersionComparison,  // passed: the offered version is newer
  kDownloadManager,
  kInstallerDownload,
  kInstallerCopy,
  kSignature,
  kPublisher,
  kOwnVersion,
  kSha256,
  kInstallerStart,
};

struct StepRecord {
  Step step = Step::kInstalledVersion;
  bool passed = true;
  // Nothing to do here: nothing installed to compare, no pin to hold to.
  bool skipped = false;
  // Failed for the release's fault (a refusal), not this machine's; why;
  // and libcurl's code or the trust provider's status.
  bool releaseFault = false;
  std::string value;
  std::string reason;
  std::int32_t code = 0;
  // The log entries written from the step's start to the next one's (when
  // the run's log is kept in memory).
  std::vector<std::string> entries;
};

struct UpdateOutcome {
  Ending ending = Ending::kUnexpected;
  std::string reason;  // kUnexpected: the error line that ended the run
  std::vector<std::string> entries;  // written before the first step
  // In order; a deque, so that the record of a step in progress stays put.
  std::deque<StepRecord> steps;

  // The last record of `step`, or null.
  const StepRecord* find(Step step) const {
    for (auto record = steps.rbegin(); record != steps.rend(); ++record) {
      if (record->step == step) return &*record;
    }
    return nullptr;
  }
};
