/* A plain libcurl download, the yardstick for the updater's transfer:
 * the same libcurl options minus the updater's own (proxy step, progress
 * callback, verbose log), writing with fwrite. Timed as the downloader is:
 * from the handle's creation to the closed file, after the global start-up.
 * Usage: plain_curl URL FILE [RECEIVE-BUFFER-BYTES]
 * Prints: bytes seconds MB/s peak-memory-KiB */
#include <curl/curl.h>

#include <stdio.h>
#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
static double nowSeconds(void) {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return (double)counter.QuadPart / (double)frequency.QuadPart;
}
static long peakKib(void) {
  PROCESS_MEMORY_COUNTERS counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
    return -1;
  return (long)(counters.PeakWorkingSetSize / 1024);
}
#else
#include <sys/resource.h>
#include <time.h>
static double nowSeconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}
static long peakKib(void) {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_maxrss;
}
#endif

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    fprintf(stderr, "usage: plain_curl URL FILE [RECEIVE-BUFFER-BYTES]\n");
    return 2;
  }
  curl_global_init(CURL_GLOBAL_ALL);
  const double start = nowSeconds();
  CURL* curl = curl_easy_init();
  if (curl == NULL) return 1;
  FILE* file = fopen(argv[2], "wb");
  if (file == NULL) {
    perror(argv[2]);
    return 1;
  }
  curl_easy_setopt(curl, CURLOPT_URL, argv[1]);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 600L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, fwrite);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
  if (argc == 4) curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, atol(argv[3]));

  const CURLcode code = curl_easy_perform(curl);
  const int closed = fclose(file);
  const double seconds = nowSeconds() - start;
  curl_off_t bytes = 0;
  curl_easy_getinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
  curl_easy_cleanup(curl);
  curl_global_cleanup();
  if (code != CURLE_OK || closed != 0) {
    fprintf(stderr, "transfer failed: %d (%s)\n", (int)code,
            curl_easy_strerror(code));
    return 1;
  }
  printf("%lld %.3f %.1f %ld\n", (long long)bytes, seconds,
         (double)bytes / seconds / 1e6, peakKib());
  return 0;
}
