#include "download/http_downloader.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <type_traits>

#include "common/text.h"
#include "config/logger.h"
#include "config/settings.h"
#include "config/util.h"
#include "download/proxy_step.h"
#include "platform/connection.h"
#include "platform/files.h"

static_assert(std::is_same<curl_off_t, std::int64_t>::value,
              "onProgress takes libcurl's byte counts as they are");

ProgressCallback HttpDownloader::progressCallback;

namespace {

// The whole transfer, redirects included, must end within this time.
constexpr long kTransferTimeoutSeconds = 600;
constexpr long kMaxRedirects = 5;
// libcurl's largest receive buffer: with its 16 KiB default, the per-chunk
// write and progress calls held a loopback transfer to about two thirds of
// the curl tool's throughput. The buffer is allocated once per transfer.
constexpr long kReceiveBufferBytes = 512 * 1024;

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

std::string withoutLineBreaks(std::string url) {
  if (url.find_first_of("\r\n") == std::string::npos) return url;
  std::string kept;
  kept.reserve(url.size());
  for (const char c : url) {
    if (c != '\n') kept.push_back(c);
  }
  url.swap(kept);
  kept.clear();
  for (const char c : url) {
    if (c != '\r') kept.push_back(c);
  }
  return kept;
}

}  // namespace

bool HttpDownloader::getUpdateXml() {
  if (!Settings::checkForUpdates()) return false;
  const std::wstring path = Util::getManifestPath();
  const std::string url = Settings::getUpdateUrl();
  // The limits of update.ini are read here but not applied: the transfer
  // keeps its fixed overall time limit.
  (void)Settings::getDownloadOptions();
  return download(url, path);
}

bool HttpDownloader::download(const std::string& url, const std::wstring& path) {
  if (!platform::internetConnectionAvailable()) return false;
  if (!transfer(url, path)) return false;
  Logger::instance().write("Download complete: " + tsdlm::narrowLow8(path) +
                           "\r\n");
  return true;
}

bool HttpDownloader::transfer(const std::string& rawUrl,
                              const std::wstring& path) {
  const std::string url = withoutLineBreaks(rawUrl);
  if (!platform::internetConnectionAvailable()) return false;

  CurlHandle curl(curl_easy_init());
  if (!curl) return false;

  if (runProxyStep(curl.get(), url) == ProxyStepResult::kFailed) return false;

  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &HttpDownloader::onProgress);
  // libcurl's write callback lines up with fwrite, whose stream is the
  // write data below.
  using WriteFunction = std::size_t (*)(const void*, std::size_t, std::size_t,
                                        std::FILE*);
  const WriteFunction write = &std::fwrite;
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, write);
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
  // An error status (400 and above) is a failed transfer, not a file to
  // keep as if it were the document asked for: a 404 page must not pass
  // for the manifest or the installer.
  curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);

  std::FILE* file = platform::openFile(path, L"wb");
  if (file == nullptr) return false;
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, file);

  const CURLcode code = curl_easy_perform(handle);
  if (code != CURLE_OK) {
    Logger::instance().writeError("curl_easy_perform() failed: " +
                                  std::to_string(static_cast<int>(code)) +
                                  " (" + curl_easy_strerror(code) + ")\r\n");
    std::fclose(file);
    return false;
  }

  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  std::fclose(file);
  // A size that cannot be told is no proof of a complete file.
  return size > 0;
}

int HttpDownloader::onProgress(void*, std::int64_t downloadTotal,
                               std::int64_t downloaded, std::int64_t,
                               std::int64_t) {
  int percent = 0;
  if (static_cast<double>(downloadTotal) >= 1.0) {
    percent = static_cast<int>(downloaded * 100 / downloadTotal);
  }
  if (progressCallback) progressCallback(percent);
  return 0;
}
