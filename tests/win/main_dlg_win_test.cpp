// The progress dialog with its real resources, driven on the test's own
// thread: what the status text and the bar show after a series of reports.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "app/resource.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
int g_statusSetTexts = 0;
WNDPROC g_staticProc = nullptr;

LRESULT CALLBACK countingProc(HWND window, UINT message, WPARAM wParam,
                              LPARAM lParam) {
  if (message == WM_SETTEXT) ++g_statusSetTexts;
  return CallWindowProcW(g_staticProc, window, message, wParam, lParam);
}

std::wstring textOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

class MainDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    window_ = dialog_.Create(GetModuleHandleW(nullptr), GetDesktopWindow());
    ASSERT_NE(window_, nullptr);
    status_ = GetDlgItem(window_, IDC_STATUS);
    bar_ = GetDlgItem(window_, IDC_PROGRESS);
    g_staticProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        status_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countingProc)));
    dialog_.prepareDialogTexts();
    g_statusSetTexts = 0;
  }
  void TearDown() override {
    if (window_ != nullptr) DestroyWindow(window_);
  }

  // Runs the messages the dialog posted to itself, as the UI thread's loop
  // does.
  static void pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  int position() const {
    return static_cast<int>(SendMessageW(bar_, PBM_GETPOS, 0, 0));
  }
  PBRANGE range() const {
    PBRANGE limits{-1, -1};
    SendMessageW(bar_, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&limits));
    return limits;
  }

  CMainDlg dialog_;
  HWND window_ = nullptr;
  HWND status_ = nullptr;
  HWND bar_ = nullptr;
};

struct Reports {
  const char* name;
  std::vector<int> percents;
  const wchar_t* status;
  int position;
  int statusChanges;
};

class MainDlgReportTest : public MainDlgTest,
                          public ::testing::WithParamInterface<Reports> {};

TEST_P(MainDlgReportTest, ShowsTheLastReportAndRepaintsOnlyOnChange) {
  const Reports& reports = GetParam();
  for (const int percent : reports.percents) {
    EXPECT_TRUE(dialog_.reportProgress(percent));
    pump();
  }
  EXPECT_EQ(textOf(status_), reports.status);
  EXPECT_EQ(position(), reports.position);
  const PBRANGE limits = range();
  EXPECT_EQ(limits.iLow, 0);
  EXPECT_EQ(limits.iHigh, 100);
  EXPECT_EQ(g_statusSetTexts, reports.statusChanges);
}

const Reports kSeries[] = {
    {"Zero", {0}, L"Downloading ... 0.00%", 0, 1},
    {"ZeroThen42", {0, 42}, L"Downloading ... 42.00%", 42, 2},
    // The high limit takes the widening path; the range is 0..100 again.
    {"HighLimitWidens", {99, 100}, L"Downloading ... 100.00%", 100, 2},
    {"PastTheTopStaysFull", {120}, L"Downloading ... 120.00%", 100, 1},
    // A repeated percentage would show the same: not sent again.
    {"RepeatSentOnce", {5, 5, 5}, L"Downloading ... 5.00%", 5, 1},
    {"RepeatedTopSentOnce", {100, 100}, L"Downloading ... 100.00%", 100, 1},
    {"BackToAnEarlierPercentage", {5, 6, 6, 5}, L"Downloading ... 5.00%", 5, 3},
};

INSTANTIATE_TEST_SUITE_P(Series, MainDlgReportTest,
                         ::testing::ValuesIn(kSeries),
                         testing_support::CaseName());

TEST_F(MainDlgTest, PreparedTextsAreReplacedByTheNextReportEvenIfUnchanged) {
  ASSERT_TRUE(dialog_.reportProgress(7));
  pump();
  dialog_.prepareDialogTexts();
  EXPECT_EQ(textOf(status_), L"Initializing ...");
  ASSERT_TRUE(dialog_.reportProgress(7));
  pump();
  EXPECT_EQ(textOf(status_), L"Downloading ... 7.00%");
}

TEST_F(MainDlgTest, ReportsWaitingTogetherShowOnlyTheLatest) {
  for (int percent = 1; percent <= 30; ++percent) {
    ASSERT_TRUE(dialog_.reportProgress(percent));
  }
  EXPECT_EQ(g_statusSetTexts, 0);  // nothing painted on the reporting side
  pump();
  EXPECT_EQ(textOf(status_), L"Downloading ... 30.00%");
  EXPECT_EQ(position(), 30);
  EXPECT_EQ(g_statusSetTexts, 1);
}

TEST_F(MainDlgTest, InstallingStateIsNotOverwrittenByALateReport) {
  ASSERT_TRUE(dialog_.reportProgress(99));
  ASSERT_TRUE(dialog_.reportProgress(100));
  dialog_.showInstalling();
  pump();
  EXPECT_EQ(textOf(status_), L"Installing...");
  EXPECT_EQ(position(), 100);
}

TEST_F(MainDlgTest, InstallingTurnsTheBarIntoAMarquee) {
  ASSERT_TRUE(dialog_.reportProgress(100));
  pump();
  dialog_.showInstalling();
  EXPECT_NE(GetWindowLongW(bar_, GWL_STYLE) & PBS_MARQUEE, 0);
  EXPECT_EQ(textOf(status_), L"Installing...");
  EXPECT_EQ(textOf(GetDlgItem(window_, IDC_MESSAGE)),
            L"Please wait a moment while Download Manager finishes updating. "
            L"Your download will automatically start when the update "
            L"completes.");
  EXPECT_EQ(textOf(window_), L"Tessarin Download Manager update in progress");
}

}  // namespace
