#include <curl/curl.h>

#include "app/download_manager_handback.h"
#include "app/process_control.h"
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
  void curlGlobalInit() override { (void)curl_global_init(CURL_GLOBAL_ALL); }
  void curlGlobalCleanup() override { curl_global_cleanup(); }
  std::string getInstalledVersion() override {
    return Util::getInstalledVersion();
  }
  bool getUpdateXml() override { return HttpDownloader::getUpdateXml(); }
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
    return HttpDownloader::getInstaller(std::move(progress));
  }
  std::wstring getInstallerPath() override { return Util::getInstallerPath(); }
  std::int32_t verifySignature(const std::wstring& path) override {
    return ::verifySignature(path);
  }
  bool verifyPublisher(const std::wstring& path,
                       const std::wstring& subject) override {
    return ::verifyPublisher(path, subject);
  }
  bool launchInstaller(const std::wstring& path) override {
    // The user closed the dialog and the download manager is back already.
    if (!DownloadManagerHandback::instance().installerStarting()) return false;
    return ::launchInstaller(path);
  }
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
};

}  // namespace

std::unique_ptr<UpdateSteps> makeRealUpdateSteps() {
  return std::make_unique<RealUpdateSteps>();
}
