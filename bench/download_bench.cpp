// Times one HttpDownloader::download of URL into FILE, natively: the
// platform layer is the fakes, with the logs in LOGDIR.
// Usage: download_bench URL FILE LOGDIR
// Prints: bytes seconds MB/s peak-memory-KiB
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/text.h"
#include "download/http_downloader.h"
#include "fakes/fake_platform.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: download_bench URL FILE LOGDIR\n");
    return 2;
  }
  std::wstring path;
  std::wstring logDir;
  if (!tsdlm::utf8ToUtf16(argv[2], path) ||
      !tsdlm::utf8ToUtf16(argv[3], logDir)) {
    std::fprintf(stderr, "paths must be UTF-8\n");
    return 2;
  }
  fake::reset();
  fake::files().tempPath = logDir + L"/";
  fake::files().publicDocuments = logDir;

  const auto start = std::chrono::steady_clock::now();
  const bool ok = HttpDownloader::download(argv[1], path);
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  if (!ok) {
    std::fprintf(stderr, "download failed\n");
    return 1;
  }
  std::error_code error;
  const auto bytes = std::filesystem::file_size(argv[2], error);
  rusage usage{};
  const long peak = getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
  const double seconds = elapsed.count();
  std::printf("%llu %.3f %.1f %ld\n", static_cast<unsigned long long>(bytes),
              seconds, static_cast<double>(bytes) / seconds / 1e6, peak);
  return 0;
}
