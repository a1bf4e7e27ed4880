#include "app/main_dlg.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/resource.h"

namespace {

// Posted by the worker: a new percentage is waiting to be shown.
constexpr UINT kShowProgress = WM_APP + 1;

using BufferedPaintFn = HRESULT(WINAPI*)();  // BufferedPaintInit, UnInit
using OpenThemeDataFn = HANDLE(WINAPI*)(HWND, LPCWSTR);
using CloseThemeDataFn = HRESULT(WINAPI*)(HANDLE);

template <typename Fn>
Fn themeFunction(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Centres `window` over its owner when the owner is visible and not
// minimised, otherwise on the work area of the nearest monitor, and keeps it
// inside that work area.
void centreWindow(HWND window) {
  RECT dialog{};
  GetWindowRect(window, &dialog);
  HWND owner = GetWindow(window, GW_OWNER);
  HMONITOR monitor = MonitorFromWindow(owner != nullptr ? owner : window,
                                       MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(monitor, &info);
  const RECT area = info.rcWork;
  RECT centre = area;
  if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
    GetWindowRect(owner, &centre);
  }
  const LONG width = dialog.right - dialog.left;
  const LONG height = dialog.bottom - dialog.top;
  // Inside the work area; its left and top edges win over the others.
  const LONG left =
      std::max(area.left, std::min((centre.left + centre.right) / 2 - width / 2,
                                   area.right - width));
  const LONG top =
      std::max(area.top, std::min((centre.top + centre.bottom) / 2 - height / 2,
                                  area.bottom - height));
  SetWindowPos(window, nullptr, left, top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

CMainDlg::CMainDlg() {
  uxtheme_.reset(LoadLibraryW(L"uxtheme.dll"));
  if (auto init =
          themeFunction<BufferedPaintFn>(uxtheme_.get(), "BufferedPaintInit")) {
    bufferedPaintInitialized_ = SUCCEEDED(init());
  }
}

CMainDlg::~CMainDlg() {
  if (bufferedPaintInitialized_) {
    if (auto uninit = themeFunction<BufferedPaintFn>(uxtheme_.get(),
                                                     "BufferedPaintUnInit")) {
      uninit();
    }
  }
}

HWND CMainDlg::Create(HINSTANCE instance, HWND parent) {
  instance_ = instance;
  return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAINDLG), parent,
                            dialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CMainDlg::dialogProc(HWND window, UINT message, WPARAM wParam,
                                      LPARAM lParam) {
  CMainDlg* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CMainDlg*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->m_hWnd = window;
  } else {
    self = reinterpret_cast<CMainDlg*>(GetWindowLongPtrW(window, DWLP_USER));
  }
  if (self == nullptr) return FALSE;
  return self->handleMessage(message, wParam, lParam);
}

INT_PTR CMainDlg::handleMessage(UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      onInitDialog();
      return TRUE;
    case kShowProgress:
      applyPendingProgress();
      return TRUE;
    case WM_CLOSE:
      closeAction();
      SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_DESTROY:
      if (theme_ != nullptr) {
        if (auto close = themeFunction<CloseThemeDataFn>(uxtheme_.get(),
                                                         "CloseThemeData")) {
          close(theme_);
        }
        theme_ = nullptr;
      }
      return TRUE;
    default:
      // No command handling: Esc and Enter do nothing.
      return FALSE;
  }
}

void CMainDlg::onInitDialog() {
  status_ = GetDlgItem(m_hWnd, IDC_STATUS);
  message_ = GetDlgItem(m_hWnd, IDC_MESSAGE);
  progress_ = GetDlgItem(m_hWnd, IDC_PROGRESS);
  if (auto open =
          themeFunction<OpenThemeDataFn>(uxtheme_.get(), "OpenThemeData")) {
    theme_ = open(m_hWnd, L"dialog");
  }
  centreWindow(m_hWnd);
}

std::wstring CMainDlg::loadText(UINT id) const {
  const wchar_t* text = nullptr;
  const int length =
      LoadStringW(instance_, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return std::wstring();
  return std::wstring(text, static_cast<std::size_t>(length));
}

void CMainDlg::prepareDialogTexts() {
  shownPercent_ = -1;
  pendingPercent_.store(kNoPercent);
  SetWindowTextW(status_, loadText(IDS_INITIALIZING).c_str());
  SetWindowTextW(message_, loadText(IDS_MESSAGE).c_str());
  SetWindowTextW(m_hWnd, loadText(IDS_CAPTION).c_str());
}

void CMainDlg::show() {
  ShowWindow(m_hWnd, SW_SHOWDEFAULT);
  SetActiveWindow(m_hWnd);
  SetForegroundWindow(m_hWnd);
}

bool CMainDlg::reportProgress(int percent) {
  // The downloader reports the same percentage many times over; showing it
  // again would leave the same text and the same bar.
  if (percent == shownPercent_) return true;
  shownPercent_ = percent;
  // The controls repaint at once on every change, which under some window
  // systems takes milliseconds per control. The worker hands the percentage
  // to the UI thread and goes on downloading; when several arrive before the
  // UI thread gets to them, the latest is shown.
  if (pendingPercent_.exchange(percent) == kNoPercent) {
    PostMessageW(m_hWnd, kShowProgress, 0, 0);
  }
  return true;
}

void CMainDlg::applyPendingProgress() {
  const int percent = pendingPercent_.exchange(kNoPercent);
  if (percent != kNoPercent) applyProgress(percent);
}

void CMainDlg::applyProgress(int percent) {
  wchar_t text[256] = {};
  std::swprintf(text, 256, loadText(IDS_DOWNLOADING).c_str(),
                static_cast<double>(percent));
  SetWindowTextW(status_, text);

  PBRANGE range{0, 0};
  SendMessageW(progress_, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
  if (percent < range.iHigh) {
    // Stepping back from one above skips the bar's fill animation.
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(percent + 1), 0);
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  } else {
    SendMessageW(progress_, PBM_SETRANGE, 0,
                 MAKELPARAM(range.iLow, range.iHigh + 1));
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(range.iHigh + 1),
                 0);
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(range.iHigh), 0);
    SendMessageW(progress_, PBM_SETRANGE, 0,
                 MAKELPARAM(range.iLow, range.iHigh));
  }
}

void CMainDlg::showInstalling() {
  // A percentage still on its way must not land after the installing state.
  SendMessageW(m_hWnd, kShowProgress, 0, 0);
  const LONG style = GetWindowLongW(progress_, GWL_STYLE);
  if ((style & PBS_MARQUEE) == 0) {
    SetWindowLongW(progress_, GWL_STYLE, style | PBS_MARQUEE);
  }
  SendMessageW(progress_, PBM_SETMARQUEE, TRUE, 0);
  SetWindowTextW(status_, loadText(IDS_INSTALLING).c_str());
}

void CMainDlg::closeAction() {
  // From the worker thread these calls fail (a window can only be destroyed
  // by its own thread) and the handles stay; the quit message still ends
  // the UI thread's loop.
  if (DestroyWindow(status_)) status_ = nullptr;
  if (DestroyWindow(message_)) message_ = nullptr;
  if (DestroyWindow(progress_)) progress_ = nullptr;
  PostMessageW(m_hWnd, WM_QUIT, 0, 0);
}
