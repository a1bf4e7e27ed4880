// The release check ("TsDLMUpdater.exe /check"): the update flow run over
// the real steps, with every step that would change the machine left out
// and every step reported. It stands between the flow and the real steps:
// it never asks the download manager to quit, never starts the installer
// and sends no analytics event; the log entries the subsystems write come
// to it (logEntry) instead of the two log files.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/update_steps.h"

// What the check is told about the machine before it starts.
struct CheckFacts {
  std::wstring settingsPath;
  bool settingsFound = false;
  // The manifest URL that will be fetched, and whether /manifest gave it.
  std::string manifestUrl;
  bool manifestGiven = false;
  // The settings' switch: reported, not obeyed.
  bool checksSwitchedOn = true;
  std::wstring installedPath;
  // The offered installer's URL, read from the downloaded manifest.
  std::function<std::string()> installerUrl;
};

class ReleaseCheck final : public UpdateSteps {
 public:
  // Exit codes of /check.
  static constexpr int kWouldInstall = 0;
  static constexpr int kRefused = 1;
  static constexpr int kCannotCheck = 2;

  ReleaseCheck(UpdateSteps& real, CheckFacts facts);

  // One log entry of a subsystem, as the log would carry it.
  void logEntry(const std::string& message);

  // Call after the flow has ended: the report, lines ending in CR LF, the
  // last one the verdict; and the exit code that goes with it.
  std::string report();
  int exitCode();

  // A URL as the report shows it: a password in it replaced by "****".
  static std::string withoutPassword(const std::string& url);

  // UpdateSteps
  void curlGlobalInit() override;
  void curlGlobalCleanup() override;
  std::string getInstalledVersion() override;
  bool getUpdateXml() override;
  std::string getServerVersion() override;
  bool isVersionHigher(const std::string& candidate,
                       const std::string& reference) override;
  std::uint32_t findDownloadManager() override;
  bool quitDownloadManager(std::uint32_t processId) override;
  // Never asked to quit, so there is nothing to give back.
  void giveBackDownloadManager() override {}
  bool getInstaller(ProgressCallback progress) override;
  std::wstring getInstallerPath() override;
  std::wstring stageInstaller(const std::wstring& downloadedPath) override;
  std::int32_t verifySignature(const std::wstring& path) override;
  bool verifyPublisher(const std::wstring& path,
                       const std::wstring& subject) override;
  std::string getStagedInstallerVersion() override;
  std::optional<std::string> getInstallerPin() override;
  std::string getStagedInstallerSha256() override;
  bool launchInstaller(const std::wstring& path) override;
  void removeStagedInstaller() override;
  void track(const wchar_t* event, const wchar_t* key,
             const wchar_t* value) override;
  void logInfo(const std::string& message) override;
  void logError(const std::string& message) override;

 private:
  // One report line "what - result[ - reason]", then the entries the step
  // wrote, indented.
  // flush(): the entries written since (the flow's own lines between two
  // steps), indented, under the step before.
  void flush();
  void step(const std::string& what, const std::string& result,
            const std::string& reason = std::string());
  // The last error entry since the previous step, without "[ERROR] ".
  std::string lastError() const;
  void decide();

  UpdateSteps& real_;
  CheckFacts facts_;
  std::vector<std::string> lines_;
  std::vector<std::string> pending_;
  std::string installed_;
  std::string offered_;
  bool offeredRead_ = false;
  // The pin the manifest names, as getInstallerPin last read it.
  std::optional<std::string> pin_;
  int attempt_ = 0;
  bool launched_ = false;
  // The ending the flow tracked; empty when it tracked none.
  std::wstring ending_;
  // Why the offered release would be refused or could not be checked.
  std::string refusal_;
  std::string failure_;
  bool decided_ = false;
  int exitCode_ = kCannotCheck;
};
