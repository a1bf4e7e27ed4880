/* Times tsrnGetProxyInfo in one process: loads the proxy manager DLL, then
 * asks it CALLS times for the same URL (silent, no credentials), each call
 * timed with QueryPerformanceCounter.
 * Usage: proxy_lookup_win DLL URL [CALLS]
 * Prints: load-ms, then "status:ms" per call, on one line. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "proxy_api_loader.h"

static double milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return (double)(to.QuadPart - from.QuadPart) * 1000.0 /
         (double)frequency.QuadPart;
}

int main(int argc, char** argv) {
  LARGE_INTEGER before, after;
  HMODULE module;
  GetProxyInfoFn getProxyInfo;
  DeallocateFn deallocate;
  UserData request;
  int calls = 1;
  int call;

  if (argc != 3 && argc != 4) {
    fprintf(stderr, "usage: proxy_lookup_win DLL URL [CALLS]\n");
    return 2;
  }
  if (argc == 4) calls = atoi(argv[3]);
  if (calls < 1) calls = 1;
  QueryPerformanceCounter(&before);
  module = LoadLibraryA(argv[1]);
  QueryPerformanceCounter(&after);
  if (module == NULL) {
    fprintf(stderr, "LoadLibraryA failed: %lu\n", GetLastError());
    return 1;
  }
  if (!findProxyApi(module, &getProxyInfo, &deallocate)) return 1;
  printf("%.3f", milliseconds(before, after));

  request.url = argv[2];
  request.user = NULL;
  request.password = NULL;
  request.silent = 1;
  for (call = 0; call < calls; ++call) {
    ProxyInfo answer;
    int status;
    ZeroMemory(&answer, sizeof answer);
    QueryPerformanceCounter(&before);
    status = getProxyInfo(&request, &answer);
    QueryPerformanceCounter(&after);
    deallocate(&answer);
    printf(" %d:%.3f", status, milliseconds(before, after));
  }
  printf("\n");
  fflush(stdout);
  FreeLibrary(module);
  return 0;
}
