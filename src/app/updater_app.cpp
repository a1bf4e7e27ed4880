#include "app/updater_app.h"

#include <commctrl.h>
#include <gdiplus.h>

#include <string>
#include <thread>

#include "app/download_manager_handback.h"
#include "app/process_control.h"
#include "app/resource.h"
#include "app/update_flow.h"
#include "config/logger.h"
#include "platform/analytics.h"

namespace {

constexpr const wchar_t* kAppVersion = L"6.1.32.0";

void workerMain(CMainDlg* dialog, const RunOptions options) {
  try {
    UpdateFlow(*makeUpdateSteps(options), *dialog).run();
  } catch (...) {
    // Only the steps' creation can throw (out of memory at start).
  }
  dialog->closeAction();
}

}  // namespace

UpdaterApp::UpdaterApp(HINSTANCE) {
  Gdiplus::GdiplusStartupInput input;  // version 1, no callback
  Gdiplus::GdiplusStartup(&gdiplusToken_, &input, nullptr);
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  DefWindowProcW(nullptr, 0, 0, 0);
}

UpdaterApp::~UpdaterApp() { Gdiplus::GdiplusShutdown(gdiplusToken_); }

int UpdaterApp::runMessageLoop() {
  MSG message{};
  for (;;) {
    const BOOL result = GetMessageW(&message, nullptr, 0, 0);
    if (result == -1) continue;
    if (result == 0) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

int UpdaterApp::run(CMainDlg& dialog, HINSTANCE instance,
                    const RunOptions& options) {
  HWND window = dialog.Create(instance, GetDesktopWindow());
  if (window == nullptr) return 0;

  if (findProcess(isUpdaterInstance) != 0) return 0;
  (void)Logger::start(options);

  platform::analytics::initialize(L"Tessarin Download Manager", true);
  platform::analytics::addCommonAttribute(L"app_name", L"TsDLMUpdater");
  platform::analytics::addCommonAttribute(L"app_version", kAppVersion);
  platform::analytics::track(L"updater_launched", L"", L"");

  HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_UPDATER));
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

  std::thread(workerMain, &dialog, options).detach();

  const int result = runMessageLoop();
  // The user closed the dialog before the flow ended: the download manager
  // asked to quit comes back unless the installer has started.
  DownloadManagerHandback::instance().giveBack();

  platform::analytics::track(L"updater_exit", L"", L"");
  platform::analytics::unInitialize();
  DestroyWindow(window);
  return result;
}
