// The steps the update flow calls, in flow order. The real binding calls the
// updater's subsystems (a check's binding says what it would do where a
// normal run changes the machine); tests bind scripted stand-ins.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/run_options.h"
#include "download/http_downloader.h"
#include "download/progress_callback.h"
#include "manifest/manifest.h"
#include "platform/trust.h"
#include "trust/manifest_trust.h"

class UpdateSteps {
 public:
  // How a step that changes the machine went; a check's binding only
  // reports what it would do.
  enum class Act { kDone, kFailed, kWouldDo };
  // What the trust provider said of a file (status 0: valid), and the log
  // entry that names it.
  struct Signature {
    std::int32_t status = 0;
    platform::SignerIdentity signer;
    std::string entry;
  };

  virtual ~UpdateSteps() = default;

  // The options the steps were made with; the flow's mode is theirs.
  virtual const RunOptions& options() const = 0;
  virtual void curlGlobalInit() = 0;
  virtual void curlGlobalCleanup() = 0;
  virtual std::string getInstalledVersion() = 0;
  virtual Transfer getUpdateXml() = 0;
  // The manifest the run downloaded (empty before, and when none was).
  virtual const Manifest& manifest() const = 0;
  // Fetches the manifest's signature and judges it (and the expiry) over
  // the manifest just downloaded.
  virtual ManifestTrust checkManifestSignature() = 0;
  virtual std::string getServerVersion() = 0;
  virtual bool isVersionHigher(const std::string& candidate,
                               const std::string& reference) = 0;
  // The process id of a running download manager, or 0.
  virtual std::uint32_t findDownloadManager() = 0;
  virtual Act quitDownloadManager(std::uint32_t processId) = 0;
  // Starts the download manager again when this run asked it to quit and
  // no installer process was started; otherwise does nothing.
  virtual void giveBackDownloadManager() = 0;
  virtual Transfer getInstaller(ProgressCallback progress) = 0;
  virtual std::wstring getInstallerPath() = 0;
  // Copies the download into a new folder of its own, held open until it
  // has been started: the checks and the launch below work on that copy.
  // Its path, or empty when it cannot be made.
  virtual std::wstring stageInstaller(const std::wstring& downloadedPath) = 0;
  virtual Signature verifySignature(const std::wstring& path) = 0;
  // Whether `signer` names `subject`; `entry` receives the log entry.
  virtual bool verifyPublisher(const platform::SignerIdentity& signer,
                               const std::wstring& subject,
                               std::string& entry) = 0;
  // The staged copy's version from its own version resource, or empty.
  virtual std::string getStagedInstallerVersion() = 0;
  // The SHA-256 the manifest pins the installer to, as written, if any.
  virtual std::optional<std::string> getInstallerPin() = 0;
  // The staged copy's SHA-256 (lower-case hex) through the held handle.
  virtual std::string getStagedInstallerSha256() = 0;
  // kDone only when the installer ran and exited with 0.
  virtual Act launchInstaller(const std::wstring& path) = 0;
  // Deletes the staged copy and its folder.
  virtual void removeStagedInstaller() = 0;
  virtual void track(const wchar_t* event, const wchar_t* key,
                     const wchar_t* value) = 0;
  virtual void logInfo(const std::string& message) = 0;
  virtual void logError(const std::string& message) = 0;
  // The log entries written since the last call, when kept in memory.
  virtual std::vector<std::string> takeLogEntries() { return {}; }
};

// The binding to the real subsystems for a run with these options.
std::unique_ptr<UpdateSteps> makeUpdateSteps(const RunOptions& options);
