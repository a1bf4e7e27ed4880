// Times one HttpDownloader::download of URL into FILE. Natively the platform
// layer is the fakes, with the logs in LOGDIR; on Windows (download_bench_win)
// it is the updater's own: the code path of the installer download.
//
// Usage: download_bench URL FILE LOGDIR [warm]
//        download_bench_win URL FILE [warm]
//
// Before the clock starts the program does what the updater has done by the
// time it downloads: libcurl's global start-up (the update flow's
// curl_global_init) and the opening of the logs. plain_curl leaves the same
// start-up out of its time.
// With "warm", one untimed download of the same URL into FILE.warm (removed
// again before the timed one) comes first: the timed transfer is then the
// second in the process. It starts on a new file, as the first one does:
// truncating the file just written would be timed as well.
// Prints: bytes seconds MB/s peak-memory-KiB (peak RSS natively, peak
// working set on Windows).
// curl.h first: on Windows it brings winsock2.h, which must precede windows.h.
#include <curl/curl.h>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>

#include "fakes/fake_platform.h"
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/text.h"
#include "config/logger.h"
#include "download/http_downloader.h"

namespace {

#ifdef _WIN32
constexpr int kFixedArguments = 3;
const char kUsage[] = "usage: download_bench_win URL FILE [warm]\n";

long peakKiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    return -1;
  }
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}
#else
constexpr int kFixedArguments = 4;
const char kUsage[] = "usage: download_bench URL FILE LOGDIR [warm]\n";

long peakKiB() {
  rusage usage{};
  return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const bool warm = argc == kFixedArguments + 1 &&
                    std::string(argv[kFixedArguments]) == "warm";
  if (argc != kFixedArguments && !warm) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::wstring path;
  if (!tsdlm::utf8ToUtf16(argv[2], path)) {
    std::fprintf(stderr, "paths must be UTF-8\n");
    return 2;
  }
#ifndef _WIN32
  std::wstring logDir;
  if (!tsdlm::utf8ToUtf16(argv[3], logDir)) {
    std::fprintf(stderr, "paths must be UTF-8\n");
    return 2;
  }
  fake::reset();
  fake::files().tempPath = logDir + L"/";
  fake::files().publicDocuments = logDir;
#endif

  (void)curl_global_init(CURL_GLOBAL_ALL);
  (void)Logger::start(RunOptions());
  if (warm) {
    const std::wstring warmPath = path + L".warm";
    if (!HttpDownloader::download(argv[1], warmPath)) {
      std::fprintf(stderr, "download failed\n");
      return 1;
    }
    std::error_code removeError;
    std::filesystem::remove(std::filesystem::path(warmPath), removeError);
  }
  const auto start = std::chrono::steady_clock::now();
  const bool ok = HttpDownloader::download(argv[1], path).ok;
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  if (!ok) {
    std::fprintf(stderr, "download failed\n");
    return 1;
  }
  std::error_code error;
  const auto bytes = std::filesystem::file_size(path, error);
  const double seconds = elapsed.count();
  std::printf("%llu %.3f %.1f %ld\n", static_cast<unsigned long long>(bytes),
              seconds, static_cast<double>(bytes) / seconds / 1e6, peakKiB());
  return 0;
}
