// The application object: GDI+, common controls, the message loop.
#pragma once

#include <windows.h>

#include "app/main_dlg.h"

class UpdaterApp {
 public:
  explicit UpdaterApp(HINSTANCE instance);
  ~UpdaterApp();
  UpdaterApp(const UpdaterApp&) = delete;
  UpdaterApp& operator=(const UpdaterApp&) = delete;

  // Creates the dialog, applies the single-instance rule, opens the
  // analytics session, starts the worker and runs the message loop. The
  // result becomes the exit code: always 0.
  int run(CMainDlg& dialog, HINSTANCE instance);

 private:
  static int runMessageLoop();

  ULONG_PTR gdiplusToken_ = 0;
};
