// The application object: GDI+, common controls, the message loop.
#pragma once

#include <windows.h>

#include "app/main_dlg.h"
#include "config/run_options.h"

class UpdaterApp {
 public:
  explicit UpdaterApp(HINSTANCE instance);
  ~UpdaterApp();
  UpdaterApp(const UpdaterApp&) = delete;
  UpdaterApp& operator=(const UpdaterApp&) = delete;

  // Creates the dialog, applies the single-instance rule, starts the log
  // from `options` (only now: an updater that stands aside must not
  // truncate the running one's log), opens the analytics session, starts
  // the worker on the same options and runs the message loop. The result
  // becomes the exit code: always 0.
  int run(CMainDlg& dialog, HINSTANCE instance, const RunOptions& options);

 private:
  static int runMessageLoop();

  ULONG_PTR gdiplusToken_ = 0;
};
