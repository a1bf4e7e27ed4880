// The cost of the progress dialog during the installer download, in one run:
// the same transfer (HttpDownloader::download) without a progress callback
// and with the dialog's reportProgress as the callback, alternated.
// Usage: progress_bench_win URL FILE [ROUNDS]
// Prints one line per transfer (time, rate, progress calls and the time
// spent in them), then the median of each and the difference in per cent.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/main_dlg.h"
#include "common/text.h"
#include "download/http_downloader.h"

namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

unsigned long long fileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    return 0;
  }
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) |
         data.nFileSizeLow;
}

struct Job {
  std::string url;
  std::wstring path;
  int rounds = 3;
  CMainDlg* dialog = nullptr;
  int status = 0;
};

void measure(Job* job) {
  // The cost of one report on its own, away from any transfer.
  const auto begin = std::chrono::steady_clock::now();
  for (int percent = 0; percent <= 100; ++percent) {
    job->dialog->reportProgress(percent);
  }
  const std::chrono::duration<double> idle =
      std::chrono::steady_clock::now() - begin;
  std::printf("101 reports alone: %.2f ms each\n", idle.count() * 1000 / 101);
  std::vector<double> none;
  std::vector<double> dialog;
  for (int round = 0; round < job->rounds && job->status == 0; ++round) {
    // ABBA order, so that a trend over the run hits both alike.
    const bool order[2][2] = {{false, true}, {true, false}};
    for (const bool withDialog : order[round % 2]) {
      long calls = 0;
      double inCallback = 0;
      ProgressCallback progress;
      if (withDialog) {
        CMainDlg* target = job->dialog;
        progress = [target, &calls, &inCallback](int percent) {
          ++calls;
          const auto begin = std::chrono::steady_clock::now();
          const bool result = target->reportProgress(percent);
          const std::chrono::duration<double> spent =
              std::chrono::steady_clock::now() - begin;
          inCallback += spent.count();
          return result;
        };
      }
      const auto start = std::chrono::steady_clock::now();
      const bool ok =
          HttpDownloader::download(job->url, job->path,
                                   HttpDownloader::kNoLimit, &progress)
              .ok;
      const std::chrono::duration<double> elapsed =
          std::chrono::steady_clock::now() - start;
      if (!ok) {
        std::fprintf(stderr, "download failed\n");
        job->status = 1;
        break;
      }
      const double seconds = elapsed.count();
      std::printf("%s %.3f s %.1f MB/s, %ld calls, %.3f s in them\n",
                  withDialog ? "dialog" : "none", seconds,
                  static_cast<double>(fileSize(job->path)) / seconds / 1e6,
                  calls, inCallback);
      std::fflush(stdout);
      (withDialog ? dialog : none).push_back(seconds);
    }
  }
  if (job->status == 0) {
    const double a = median(none);
    const double b = median(dialog);
    std::printf("median none %.3f s, dialog %.3f s, difference %+.1f%%\n", a, b,
                (b - a) / a * 100.0);
  }
  job->dialog->closeAction();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: progress_bench_win URL FILE [ROUNDS]\n");
    return 2;
  }
  Job job;
  job.url = tsdlm::narrowLow8(argv[1]);
  job.path = argv[2];
  if (argc > 3)
    job.rounds = std::max(1, static_cast<int>(wcstol(argv[3], nullptr, 10)));

  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  CMainDlg dialog;
  HWND window = dialog.Create(GetModuleHandleW(nullptr), GetDesktopWindow());
  if (window == nullptr) {
    std::fprintf(stderr, "no dialog\n");
    return 1;
  }
  dialog.prepareDialogTexts();
  dialog.show();
  job.dialog = &dialog;

  std::thread worker(measure, &job);
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  worker.join();
  DestroyWindow(window);
  return job.status;
}
