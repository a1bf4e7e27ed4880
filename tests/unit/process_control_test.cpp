// findProcess against a fake process table.
#include "app/process_control.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace {

class FindProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  void add(platform::ProcessId id, const std::wstring& path,
           bool canOpen = true) {
    fake::processes().processes.push_back({id, path, canOpen});
  }
};

struct PathCase {
  const char* name;
  std::wstring path;
  bool updater;
  bool downloadManager;
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << c.name; }

class ImagePathRuleTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(ImagePathRuleTest, MatchesBothSubstringsAfterLowerCasingAToZ) {
  fake::reset();
  const PathCase& c = GetParam();
  fake::processes().processes.push_back({10, c.path, true});
  EXPECT_EQ(findProcess(isUpdaterInstance), c.updater ? 10u : 0u);
  EXPECT_EQ(findProcess(isDownloadManager), c.downloadManager ? 10u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ImagePathRuleTest,
    ::testing::Values(
        PathCase{"Updater",
                 L"C:\\Program Files\\Common Files\\Tessarin Shared\\Tessarin "
                 L"Download Manager\\TsDLMUpdater.exe",
                 true, false},
        PathCase{"DownloadManager",
                 L"C:\\Program Files\\Common Files\\Tessarin Shared\\TsDLMgr.exe",
                 false, true},
        PathCase{"UpperCase", L"C:\\TESSARIN SHARED\\TSDLMUPDATER.EXE", true,
                 false},
        PathCase{"OutsideSharedFolder", L"C:\\dev\\build\\TsDLMUpdater.exe",
                 false, false},
        PathCase{"SubstringsAnywhere",
                 L"D:\\x\\tsdlmupdater.exe.old\\tessarin shared.bak\\a.exe",
                 true, false},
        // U+0130 (capital I with dot) is not one of A to Z: no match.
        PathCase{"NonAsciiLetterUnchanged",
                 L"C:\\TESSAR\u0130N SHARED\\TsDLMUpdater.exe", false, false},
        // Fullwidth letters are left alone as well.
        PathCase{"FullwidthLetters",
                 L"C:\\Tessarin Shared\\\uFF34sDLMUpdater.exe", false, false},
        PathCase{"EmptyPath", L"", false, false}),
    [](const ::testing::TestParamInfo<PathCase>& info) {
      return info.param.name;
    });

TEST_F(FindProcessTest, SkipsOwnProcess) {
  fake::processes().self = 7;
  add(7, L"C:\\Tessarin Shared\\TsDLMUpdater.exe");
  EXPECT_EQ(findProcess(isUpdaterInstance), 0u);
  add(8, L"C:\\Tessarin Shared\\TsDLMUpdater.exe");
  EXPECT_EQ(findProcess(isUpdaterInstance), 8u);
}

TEST_F(FindProcessTest, ReturnsFirstMatchInEnumerationOrder) {
  add(30, L"C:\\other.exe");
  add(20, L"C:\\Tessarin Shared\\TsDLMgr.exe");
  add(10, L"C:\\Tessarin Shared\\TsDLMgr.exe");
  EXPECT_EQ(findProcess(isDownloadManager), 20u);
}

TEST_F(FindProcessTest, PassesOverProcessesThatCannotBeOpened) {
  add(20, L"C:\\Tessarin Shared\\TsDLMgr.exe", false);
  add(21, L"C:\\Tessarin Shared\\TsDLMgr.exe");
  EXPECT_EQ(findProcess(isDownloadManager), 21u);
}

TEST_F(FindProcessTest, EnumerationFailureMeansNone) {
  add(20, L"C:\\Tessarin Shared\\TsDLMgr.exe");
  fake::processes().enumerationFails = true;
  EXPECT_EQ(findProcess(isDownloadManager), 0u);
}

TEST_F(FindProcessTest, PredicateSeesLowerCasedPath) {
  add(5, L"C:\\ABC\\Def.EXE");
  std::wstring seen;
  findProcess([&seen](const std::wstring& path) {
    seen = path;
    return false;
  });
  EXPECT_EQ(seen, L"c:\\abc\\def.exe");
}

}  // namespace
