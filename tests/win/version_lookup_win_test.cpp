// File versions of real executables, the working folder and the log entries
// of the downloaded-installer lookup.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/staged_installer.h"
#include "config/logger.h"
#include "config/util.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "win/win_support.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using win_support::ProcessLog;
using win_support::ProductFiles;
using win_support::ScopedVariable;
using win_support::ScratchTemp;

const char* const kDownloadedVersionFailed =
    "[ERROR] ERROR: Util::getDownloadedVersion(): Failed to get the file "
    "version!";

// The log since the mark, without the timestamps' fixed-width prefix.
std::string entryTexts(const std::string& log) {
  const std::size_t prefix = Logger::timestamp().size();
  return log.size() >= prefix ? log.substr(prefix) : log;
}

struct InstalledCase {
  const char* name;
  const wchar_t* fixture;  // null: nothing installed
  const char* version;
};

class InstalledVersionWinTest : public ::testing::TestWithParam<InstalledCase> {
 protected:
  ScopedVariable noX86_{L"ProgramFiles(x86)", nullptr};
  ProductFiles product_;
};

TEST_P(InstalledVersionWinTest, FileVersionWordsOrEmptyAndNothingLogged) {
  if (GetParam().fixture != nullptr) product_.install(GetParam().fixture);
  ProcessLog::mark();
  EXPECT_EQ(Util::getInstalledVersion(), GetParam().version);
  EXPECT_EQ(ProcessLog::sinceMark(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, InstalledVersionWinTest,
    ::testing::Values(
        InstalledCase{"Versioned", L"version_6_1_32_0", "6.1.32.0"},
        InstalledCase{"LargestWords", L"version_65535", "6.65535.0.65535"},
        InstalledCase{"NoVersionResource", L"no_version", ""},
        InstalledCase{"NothingInstalled", nullptr, ""}),
    testing_support::CaseName());

TEST(InstalledVersionX86WinTest, LookedForInTheX86FolderWhenTheVariableIsSet) {
  ScopedVariable x86(L"ProgramFiles(x86)", L"D:\\Elsewhere");
  ProductFiles product;
  product.install(L"version_6_1_32_0", true);
  EXPECT_EQ(Util::getInstalledVersion(), "6.1.32.0");
  ScopedVariable none(L"ProgramFiles(x86)", nullptr);
  EXPECT_EQ(Util::getInstalledVersion(), "");
}

struct DownloadedCase {
  const char* name;
  const wchar_t* fixture;  // null: a file that is not an executable
  const char* version;
  const char* entry;
};

// The fixture at the installer's place; null: a file that is not an
// executable.
bool placeInstaller(const wchar_t* fixture, const std::wstring& installer) {
  if (fixture != nullptr) {
    win_support::copyFile(win_support::fixture(fixture), installer);
    return true;
  }
  return static_cast<bool>(std::ofstream(std::filesystem::path(installer))
                           << "MZ, but no executable");
}

class DownloadedVersionWinTest
    : public ::testing::TestWithParam<DownloadedCase> {
 protected:
  ScratchTemp temp_;
};

TEST_P(DownloadedVersionWinTest, VersionOrOneErrorEntryWithoutLineEnd) {
  const std::wstring installer = Util::getInstallerPath();
  ASSERT_EQ(installer,
            temp_.path() + L"TsDLM\\TessarinDownloadManagerSetup.exe");
  ASSERT_TRUE(placeInstaller(GetParam().fixture, installer));
  ProcessLog::mark();
  EXPECT_EQ(Util::getDownloadedVersion(Util::getInstallerPath()),
            GetParam().version);
  EXPECT_EQ(entryTexts(ProcessLog::sinceMark()), GetParam().entry);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, DownloadedVersionWinTest,
    ::testing::Values(
        DownloadedCase{"Versioned", L"version_6_1_32_0", "6.1.32.0", ""},
        DownloadedCase{"LargestWords", L"version_65535", "6.65535.0.65535", ""},
        DownloadedCase{"NoVersionResource", L"no_version", "",
                       kDownloadedVersionFailed},
        DownloadedCase{"NotAnExecutable", nullptr, "",
                       kDownloadedVersionFailed}),
    testing_support::CaseName());

TEST(DownloadedVersionMissingWinTest, NoInstallerGivesOneInfoEntry) {
  ScratchTemp temp;
  ProcessLog::mark();
  EXPECT_EQ(Util::getDownloadedVersion(Util::getInstallerPath()), "");
  EXPECT_EQ(entryTexts(ProcessLog::sinceMark()),
            "INFO: Installer not downloaded!");
}

TEST(WorkingFolderWinTest, CreatedByTheFirstLookupThatNeedsIt) {
  ScratchTemp temp;
  const std::wstring folder = temp.path() + L"TsDLM";
  ASSERT_FALSE(win_support::fileExists(folder));
  EXPECT_EQ(Util::getManifestPath(), folder + L"\\update.xml");
  EXPECT_TRUE(win_support::fileExists(folder));
  // An existing folder is kept as it is.
  win_support::copyFile(win_support::fixture(L"no_version"),
                        folder + L"\\keep.exe");
  EXPECT_EQ(Util::getInstallerPath(),
            folder + L"\\TessarinDownloadManagerSetup.exe");
  EXPECT_TRUE(win_support::fileExists(folder + L"\\keep.exe"));
}

// The staged copy's own version, read from its bytes through the held
// handle, agrees with the system's lookup for every fixture.
TEST_P(DownloadedVersionWinTest, StagedCopyReadsItsOwnVersion) {
  const std::wstring installer = Util::getInstallerPath();
  ASSERT_TRUE(placeInstaller(GetParam().fixture, installer));
  StagedInstaller staged;
  ASSERT_TRUE(staged.stage(installer));
  EXPECT_EQ(staged.ownVersion(), GetParam().version);
}

TEST(StagedInstallerWinTest, HeldCopyCannotBeChangedButRuns) {
  ScratchTemp temp;
  const std::wstring installer = Util::getInstallerPath();
  win_support::copyFile(win_support::fixture(L"version_6_1_32_0"), installer);
  StagedInstaller staged;
  ASSERT_TRUE(staged.stage(installer));
  const std::wstring copy = staged.path();
  const std::wstring folder = copy.substr(0, copy.find_last_of(L'\\'));
  EXPECT_EQ(folder.substr(0, temp.path().size() + 14),
            temp.path() + L"TsDLM\\install-");
  EXPECT_EQ(folder.size(), temp.path().size() + 6 + 8 + 32);
  EXPECT_TRUE(staged.aloneInFolder());

  // While held: no writing, deleting or renaming; reading still works.
  const std::filesystem::path held(copy);
  EXPECT_FALSE(std::fstream(held, std::ios::in | std::ios::out).is_open());
  EXPECT_FALSE(DeleteFileW(copy.c_str()));
  EXPECT_FALSE(MoveFileW(copy.c_str(), (folder + L"\\moved.exe").c_str()));
  ASSERT_FALSE(MoveFileW(folder.c_str(), (temp.path() + L"moved").c_str()));
  ASSERT_FALSE(RemoveDirectoryW(folder.c_str()));
  EXPECT_TRUE(std::ifstream(held).is_open());

  // It starts from its own folder; the handle may go once it runs.
  bool released = false;
  const platform::ShellRunResult run =
      platform::shellRunAndWait(copy, L"", folder, [&staged, &released] {
        staged.release();
        released = true;
      });
  EXPECT_TRUE(run.started);
  EXPECT_TRUE(released);
  EXPECT_TRUE(run.exitCodeKnown);
  EXPECT_EQ(run.exitCode, 0u);

  // Something put beside the copy is noticed; removal leaves it and the
  // folder with it, and takes the copy.
  win_support::copyFile(win_support::fixture(L"no_version"),
                        folder + L"\\version.dll");
  EXPECT_FALSE(staged.aloneInFolder());
  staged.remove();
  EXPECT_FALSE(win_support::fileExists(copy));
  EXPECT_TRUE(win_support::fileExists(folder + L"\\version.dll"));
  DeleteFileW((folder + L"\\version.dll").c_str());
  RemoveDirectoryW(folder.c_str());

  // Without anything beside it, the folder goes with the copy; the download
  // itself stays.
  ASSERT_TRUE(staged.stage(installer));
  const std::wstring second = staged.path();
  EXPECT_NE(second, copy);
  staged.remove();
  EXPECT_FALSE(
      win_support::fileExists(second.substr(0, second.find_last_of(L'\\'))));
  EXPECT_TRUE(win_support::fileExists(installer));
}

// What Wine implements of the staging defences: the copy's final path and
// link count, and the sweep of copies earlier runs left (one held stays).
TEST(StagedInstallerWinTest, SecondNameRefusedAndLeftCopiesSwept) {
  ScratchTemp temp;
  const std::wstring installer = Util::getInstallerPath();
  win_support::copyFile(win_support::fixture(L"version_6_1_32_0"), installer);
  const std::wstring left =
      temp.path() + L"TsDLM\\install-" + std::wstring(31, L'a');
  for (const wchar_t* end : {L"a\\", L"b\\"}) {
    ASSERT_TRUE(CreateDirectoryW((left + end).c_str(), nullptr));
    win_support::copyFile(installer, left + end + L"setup.exe");
  }
  const auto held = platform::holdFile(left + L"b\\setup.exe");

  StagedInstaller staged;
  ASSERT_TRUE(staged.stage(installer));
  EXPECT_FALSE(win_support::fileExists(left + L"a"));
  EXPECT_TRUE(win_support::fileExists(left + L"b\\setup.exe"));
  EXPECT_EQ(platform::heldFinalPath(*staged.file()), staged.path());
  EXPECT_EQ(staged.fault(), "");
  const std::wstring link = temp.path() + L"link.exe";
  ASSERT_TRUE(CreateHardLinkW(link.c_str(), staged.path().c_str(), nullptr));
  EXPECT_EQ(staged.fault(), "The installer's copy has 2 names");
}

}  // namespace
