// The steps the update flow calls, in flow order. The real binding calls the
// updater's subsystems; tests bind scripted stand-ins.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "download/progress_callback.h"

class UpdateSteps {
 public:
  virtual ~UpdateSteps() = default;

  virtual void curlGlobalInit() = 0;
  virtual void curlGlobalCleanup() = 0;
  virtual std::string getInstalledVersion() = 0;
  virtual bool getUpdateXml() = 0;
  virtual std::string getServerVersion() = 0;
  virtual bool isVersionHigher(const std::string& candidate,
                               const std::string& reference) = 0;
  // The process id of a running download manager, or 0.
  virtual std::uint32_t findDownloadManager() = 0;
  virtual bool quitDownloadManager(std::uint32_t processId) = 0;
  // Starts the download manager again when this run asked it to quit and
  // no installer process was started; otherwise does nothing.
  virtual void giveBackDownloadManager() = 0;
  virtual bool getInstaller(ProgressCallback progress) = 0;
  virtual std::wstring getInstallerPath() = 0;
  // Copies the downloaded installer into a new folder of its own and holds
  // the copy open for reading until it has been started. Returns the copy's
  // path, or empty when it cannot be made. The checks and the launch below
  // work on that held copy.
  virtual std::wstring stageInstaller(const std::wstring& downloadedPath) = 0;
  virtual std::int32_t verifySignature(const std::wstring& path) = 0;
  // The publisher of the signature verifySignature last looked at.
  virtual bool verifyPublisher(const std::wstring& path,
                               const std::wstring& subject) = 0;
  // The staged copy's version from its own version resource, or empty.
  virtual std::string getStagedInstallerVersion() = 0;
  // The SHA-256 the manifest pins the installer to, as written; no value
  // when the manifest pins none.
  virtual std::optional<std::string> getInstallerPin() = 0;
  // The staged copy's SHA-256 (lower-case hex) read through the held
  // handle, or empty.
  virtual std::string getStagedInstallerSha256() = 0;
  virtual bool launchInstaller(const std::wstring& path) = 0;
  // Deletes the staged copy and its folder.
  virtual void removeStagedInstaller() = 0;
  virtual void track(const wchar_t* event, const wchar_t* key,
                     const wchar_t* value) = 0;
  virtual void logInfo(const std::string& message) = 0;
  virtual void logError(const std::string& message) = 0;
};

// The binding to the real subsystems.
std::unique_ptr<UpdateSteps> makeRealUpdateSteps();
// The same for the release check: the manifest from `manifestUrl`, and the
// settings' switch that turns update checks off not obeyed.
std::unique_ptr<UpdateSteps> makeCheckUpdateSteps(const std::string& manifestUrl);
