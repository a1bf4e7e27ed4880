#include <curl/curl.h>

#include <optional>
#include <string>
#include <utility>

#include "app/download_manager_handback.h"
#include "app/process_control.h"
#include "app/staged_installer.h"
#include "app/update_steps.h"
#include "config/logger.h"
#include "config/util.h"
#include "download/http_downloader.h"
#include "manifest/manifest.h"
#include "platform/analytics.h"
#include "platform/clock.h"
#include "trust/installer_trust.h"

namespace {

class RealUpdateSteps : public UpdateSteps {
 public:
  explicit RealUpdateSteps(RunOptions options) : options_(std::move(options)) {}

  const RunOptions& options() const override { return options_; }
  void curlGlobalInit() override { (void)curl_global_init(CURL_GLOBAL_ALL); }
  void curlGlobalCleanup() override { curl_global_cleanup(); }
  std::string getInstalledVersion() override {
    return Util::getInstalledVersion();
  }
  Transfer getUpdateXml() override {
    Transfer fetched = HttpDownloader::getUpdateXml(options_);
    // Read once, here: a program that rewrites the file later changes
    // nothing the run asks of the manifest.
    if (fetched) {
      manifest_ = Manifest::load(Util::getManifestPath(options_.workingFolder));
    }
    return fetched;
  }
  const Manifest& manifest() const override { return manifest_; }
  ManifestTrust checkManifestSignature() override {
    std::string signature;
    const Transfer fetched = HttpDownloader::getManifestSignature(
        options_, kManifestSignatureLimit, signature);
    return judgeManifest(manifest_, fetched, signature,
                         options_.requireSignedManifest,
                         platform::utcSecondsNow());
  }
  std::string getServerVersion() override {
    return manifest_.getServerVersion();
  }
  bool isVersionHigher(const std::string& candidate,
                       const std::string& reference) override {
    return Util::isVersionHigher(candidate, reference);
  }
  std::uint32_t findDownloadManager() override {
    return findProcess(isDownloadManager);
  }
  Act quitDownloadManager(std::uint32_t processId) override {
    // Read before asking: the process may be gone once it has answered.
    std::wstring imagePath;
    (void)platform::processImagePath(processId, imagePath);
    platform::HeldProcessHandle process = platform::holdProcess(processId);
    if (!::quitDownloadManager(processId)) return Act::kFailed;
    DownloadManagerHandback::instance().quitAccepted(imagePath,
                                                     std::move(process));
    return Act::kDone;
  }
  void giveBackDownloadManager() override {
    DownloadManagerHandback::instance().giveBack();
  }
  Transfer getInstaller(ProgressCallback progress) override {
    return HttpDownloader::getInstaller(options_, manifest_, progress);
  }
  std::wstring getInstallerPath() override {
    return Util::getInstallerPath(options_.workingFolder);
  }
  std::wstring stageInstaller(const std::wstring& downloadedPath) override {
    return staged_.stage(downloadedPath) ? staged_.path() : std::wstring();
  }
  Signature verifySignature(const std::wstring& path) override {
    Signature signature;
    platform::HeldFile* file = heldCopy(path);
    signature.status = file == nullptr
                           ? kNotHeld
                           : ::verifySignature(path, *file, signature.signer,
                                               &signature.entry);
    return signature;
  }
  bool verifyPublisher(const platform::SignerIdentity& signer,
                       const std::wstring& subject,
                       std::string& entry) override {
    return ::verifyPublisher(signer, subject, &entry);
  }
  std::string getStagedInstallerVersion() override {
    return staged_.ownVersion();
  }
  std::optional<std::string> getInstallerPin() override {
    return manifest_.getWindowsInstallerSha256();
  }
  std::string getStagedInstallerSha256() override {
    platform::HeldFile* file = staged_.file();
    return file != nullptr ? platform::heldFileSha256(*file) : std::string();
  }
  Act launchInstaller(const std::wstring& path) override {
    if (heldCopy(path) == nullptr) return Act::kFailed;
    // Looked at again just before the start: the checks (and an elevation
    // prompt) take their time.
    const std::string fault = staged_.fault();
    if (!fault.empty()) {
      Logger::instance().writeError(fault + "; it is not started.\r\n");
      return Act::kFailed;
    }
    DownloadManagerHandback& handback = DownloadManagerHandback::instance();
    // The user closed the dialog and the download manager is back already.
    if (!handback.installerStarting()) return Act::kFailed;
    // Held until the installer's process exists, so the file that runs is
    // the file that was checked. Only a process counts as a start: after a
    // failed one the download manager comes back as after any failure.
    bool started = false;
    const bool installed = ::launchInstaller(path, [this, &handback, &started] {
      started = true;
      staged_.release();
      handback.installerStarted();
    });
    if (!started) handback.installerNotStarted();
    return installed ? Act::kDone : Act::kFailed;
  }
  void removeStagedInstaller() override { staged_.remove(); }
  void track(const wchar_t* event, const wchar_t* key,
             const wchar_t* value) override {
    platform::analytics::track(event, key, value);
  }
  void logInfo(const std::string& message) override {
    Logger::instance().write(message);
  }
  void logError(const std::string& message) override {
    Logger::instance().writeError(message);
  }

 private:
  // The status given for a file that is not the held copy: the provider
  // never saw it.
  static constexpr std::int32_t kNotHeld =
      static_cast<std::int32_t>(0x80070006u);  // E_HANDLE

  platform::HeldFile* heldCopy(const std::wstring& path) const {
    return !path.empty() && path == staged_.path() ? staged_.file() : nullptr;
  }

  StagedInstaller staged_;
  Manifest manifest_;

 protected:
  const RunOptions options_;
};

// The release check's binding: the same subsystems, but what would change
// the machine (the download manager's quit, the installer's start, an
// analytics event) is only reported, and the log entries, kept in memory,
// are handed to the flow.
class CheckUpdateSteps final : public RealUpdateSteps {
 public:
  using RealUpdateSteps::RealUpdateSteps;

  Act quitDownloadManager(std::uint32_t) override { return Act::kWouldDo; }
  // Never asked to quit, so there is nothing to give back.
  void giveBackDownloadManager() override {}
  Act launchInstaller(const std::wstring&) override { return Act::kWouldDo; }
  void track(const wchar_t*, const wchar_t*, const wchar_t*) override {}
  std::vector<std::string> takeLogEntries() override {
    return Logger::instance().takeEntries();
  }
};

}  // namespace

std::unique_ptr<UpdateSteps> makeUpdateSteps(const RunOptions& options) {
  if (options.isCheck()) return std::make_unique<CheckUpdateSteps>(options);
  return std::make_unique<RealUpdateSteps>(options);
}
