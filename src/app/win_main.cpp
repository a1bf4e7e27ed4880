#include <windows.h>

#include "app/main_dlg.h"
#include "app/updater_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The command line is not interpreted.
  int result = 0;
  {
    UpdaterApp app(instance);
    CMainDlg dialog;
    result = app.run(dialog, instance);
  }
  // When the user closed the dialog the worker may still be downloading or
  // waiting for the installer. ExitProcess stops it before any exit handler
  // or static destructor runs, so nothing it uses is torn down under it.
  // Every log entry and analytics event has been flushed already.
  ExitProcess(static_cast<UINT>(result));
}
