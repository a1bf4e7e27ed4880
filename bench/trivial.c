/* The smallest GUI program: the yardstick for the updater's start and exit
 * when it finds no update (bench/startup.py).
 *
 * Built a second time as imports_only.exe with TSDLM_UPDATER_IMPORTS: one
 * function of each system DLL TsDLMUpdater.exe imports is referenced, so the
 * loader maps and initialises the same set before it returns at once. The
 * difference to trivial.exe is what the imports cost at start and exit. */
#include <windows.h>

#ifdef TSDLM_UPDATER_IMPORTS
#include <bcrypt.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <wincred.h>
#include <wininet.h>
#include <wintrust.h>

/* Declared here: their headers do not mix with the ones above. */
__declspec(dllimport) BOOL WINAPI WinHttpCloseHandle(void* handle);
__declspec(dllimport) int WINAPI WSACleanup(void);
__declspec(dllimport) void WINAPI GdiplusShutdown(ULONG_PTR token);

static const void* volatile imports[] = {
    (const void*)&RegCloseKey,
    (const void*)&BCryptGenRandom,
    (const void*)&InitCommonControlsEx,
    (const void*)&CredUIParseUserNameW,
    (const void*)&CertCloseStore,
    (const void*)&GdiplusShutdown,
    (const void*)&CoUninitialize,
    (const void*)&ShellExecuteExW,
    (const void*)&PathFileExistsW,
    (const void*)&GetDesktopWindow,
    (const void*)&GetFileVersionInfoSizeW,
    (const void*)&WinHttpCloseHandle,
    (const void*)&InternetGetConnectedState,
    (const void*)&WinVerifyTrust,
    (const void*)&WSACleanup,
};
#define RESULT (imports[0] == NULL)
#else
#define RESULT 0
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                   int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  return RESULT;
}
