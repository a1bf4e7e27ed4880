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
#include "trust/installer_trust.h"

namespace {

class RealUpdateSteps final : public UpdateSteps {
 public:
  RealUpdateSteps() = default;
  // The release check's binding: the manifest from `manifestUrl`, and both
  // downloads made whatever the settings' switch says.
  explicit RealUpdateSteps(std::string manifestUrl)
      : checkManifestUrl_(std::move(manifestUrl)), obeySwitch_(false) {}

  void curlGlobalInit() override { (void)curl_global_init(CURL_GLOBAL_ALL); }
  void curlGlobalCleanup() override { curl_global_cleanup(); }
  std::string getInstalledVersion() override {
    return Util::getInstalledVersion();
  }
  bool getUpdateXml() override {
    return obeySwitch_ ? HttpDownloader::getUpdateXml()
                       : HttpDownloader::fetchUpdateXml(checkManifestUrl_);
  }
  std::string getServerVersion() override {
    return Manifest::getServerVersion();
  }
  bool isVersionHigher(const std::string& candidate,
                       const std::string& reference) override {
    return Util::isVersionHigher(candidate, reference);
  }
  std::uint32_t findDownloadManager() override {
    return findProcess(isDownloadManager);
  }
  bool quitDownloadManager(std::uint32_t processId) override {
    // Read before asking: the process may be gone once it has answered.
    std::wstring imagePath;
    (void)platform::processImagePath(processId, imagePath);
    if (!::quitDownloadManager(processId)) return false;
    DownloadManagerHandback::instance().quitAccepted(imagePath);
    return true;
  }
  void giveBackDownloadManager() override {
    DownloadManagerHandback::instance().giveBack();
  }
  bool getInstaller(ProgressCallback progress) override {
    // A check judges what the server serves now, never a file kept from an
    // earlier check.
    return obeySwitch_ ? HttpDownloader::getInstaller(std::move(progress))
                       : HttpDownloader::downloadInstaller(std::move(progress));
  }
  std::wstring getInstallerPath() override { return Util::getInstallerPath(); }
  std::wstring stageInstaller(const std::wstring& downloadedPath) override {
    if (!staged_.stage(downloadedPath)) return std::wstring();
    return staged_.path();
  }
  std::int32_t verifySignature(const std::wstring& path) override {
    signer_ = platform::SignerIdentity();
    platform::HeldFile* file = heldCopy(path);
    if (file == nullptr) return kNotHeld;
    return ::verifySignature(path, *file, signer_);
  }
  bool verifyPublisher(const std::wstring&,
                       const std::wstring& subject) override {
    return ::verifyPublisher(signer_, subject);
  }
  std::string getStagedInstallerVersion() override {
    return staged_.ownVersion();
  }
  std::optional<std::string> getInstallerPin() override {
    return Manifest::getWindowsInstallerSha256();
  }
  std::string getStagedInstallerSha256() override {
    platform::HeldFile* file = staged_.file();
    return file != nullptr ? platform::heldFileSha256(*file) : std::string();
  }
  bool launchInstaller(const std::wstring& path) override {
    if (heldCopy(path) == nullptr) return false;
    // Looked at again just before the start: the checks (and an elevation
    // prompt) take their time.
    const std::string fault = staged_.fault();
    if (!fault.empty()) {
      Logger::instance().writeError(fault + "; it is not started.\r\n");
      return false;
    }
    DownloadManagerHandback& handback = DownloadManagerHandback::instance();
    // The user closed the dialog and the download manager is back already.
    if (!handback.installerStarting()) return false;
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
    return installed;
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
  platform::SignerIdentity signer_;
  std::string checkManifestUrl_;
  bool obeySwitch_ = true;
};

}  // namespace

std::unique_ptr<UpdateSteps> makeRealUpdateSteps() {
  return std::make_unique<RealUpdateSteps>();
}

std::unique_ptr<UpdateSteps> makeCheckUpdateSteps(const std::string& manifestUrl) {
  return std::make_unique<RealUpdateSteps>(manifestUrl);
}
