#include "download/http_downloader.h"

ProgressCallback HttpDownloader::progressCallback;

bool HttpDownloader::getUpdateXml() { return false; }

bool HttpDownloader::getInstaller(ProgressCallback) { return false; }

bool HttpDownloader::download(const std::string&, const std::wstring&) {
  return false;
}

bool HttpDownloader::transfer(const std::string&, const std::wstring&) {
  return false;
}

int HttpDownloader::onProgress(void*, std::int64_t, std::int64_t, std::int64_t,
                               std::int64_t) {
  return 0;
}
