// Times one HttpDownloader::download of URL into FILE on Windows, with the
// updater's own platform layer: the code path of the installer download.
// Usage: download_bench_win URL FILE
// Prints: bytes seconds MB/s peak-working-set-KiB
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "common/text.h"
#include "download/http_downloader.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: download_bench_win URL FILE\n");
    return 2;
  }
  std::wstring path;
  if (!tsdlm::utf8ToUtf16(argv[2], path)) {
    std::fprintf(stderr, "the path must be UTF-8\n");
    return 2;
  }

  const auto start = std::chrono::steady_clock::now();
  const bool ok = HttpDownloader::download(argv[1], path);
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  if (!ok) {
    std::fprintf(stderr, "download failed\n");
    return 1;
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  unsigned long long bytes = 0;
  if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) |
            data.nFileSizeLow;
  }
  PROCESS_MEMORY_COUNTERS counters{};
  long peak = -1;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    peak = static_cast<long>(counters.PeakWorkingSetSize / 1024);
  }
  const double seconds = elapsed.count();
  std::printf("%llu %.3f %.1f %ld\n", bytes, seconds,
              static_cast<double>(bytes) / seconds / 1e6, peak);
  return 0;
}
