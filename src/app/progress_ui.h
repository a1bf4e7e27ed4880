// What the update flow needs from the progress dialog. The dialog lives on
// the UI thread; every operation here is called from the worker thread and
// reaches the dialog through window calls only.
#pragma once

class ProgressUi {
 public:
  virtual ~ProgressUi() = default;
  // Initial texts: status 103, message 111, caption 112.
  virtual void prepareDialogTexts() = 0;
  // Shows, activates and brings the dialog to the foreground.
  virtual void show() = 0;
  // The download percentage; always returns true.
  virtual bool reportProgress(int percent) = 0;
  // Marquee bar and status text 110.
  virtual void showInstalling() = 0;
  // Destroys the controls and posts the quit message to the UI thread.
  virtual void closeAction() = 0;
};
