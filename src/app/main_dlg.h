// The progress dialog: created hidden at start-up, shown when an update is
// installed. The worker thread changes it through window calls only.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "app/progress_ui.h"
#include "platform/win32/owned.h"

class CMainDlg final : public ProgressUi {
 public:
  CMainDlg();
  ~CMainDlg() override;
  CMainDlg(const CMainDlg&) = delete;
  CMainDlg& operator=(const CMainDlg&) = delete;

  // Creates the modeless dialog (template 102) hidden. Null on failure.
  HWND Create(HINSTANCE instance, HWND parent);
  HWND window() const { return m_hWnd; }

  void prepareDialogTexts() override;
  void show() override;
  bool reportProgress(int percent) override;
  void showInstalling() override;
  void closeAction() override;

 private:
  static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam);
  INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void onInitDialog();
  std::wstring loadText(UINT id) const;

  HINSTANCE instance_ = nullptr;
  HWND m_hWnd = nullptr;
  HWND status_ = nullptr;
  HWND message_ = nullptr;
  HWND progress_ = nullptr;
  // Shows a percentage on the status text and the bar (UI thread).
  void applyProgress(int percent);
  // Applies the percentage handed over by reportProgress, if any.
  void applyPendingProgress();

  // The last percentage reportProgress handed over; -1 when none since the
  // texts were prepared. Worker thread only.
  int shownPercent_ = -1;
  // The percentage waiting for the UI thread, or kNoPercent.
  static constexpr int kNoPercent = -1;
  std::atomic<int> pendingPercent_{kNoPercent};
  platform::Owned<platform::LibraryKind> uxtheme_;
  bool bufferedPaintInitialized_ = false;
  void* theme_ = nullptr;
};
