// The staged copy through the real update steps, with the file system's
// answers set in the fakes: what keeps it from being started, and the sweep.
#include "app/staged_installer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/update_steps.h"
#include "fakes/fake_platform.h"
#include "unit/process_log.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using testing_support::exists;

const std::wstring kSetup = L"TessarinDownloadManagerSetup.exe";

struct FaultCase {
  const char* name;
  const char* fault;   // what the fakes report, see apply()
  bool beforeStaging;  // else just before the start
  const char* reason;  // the error entry's start; "" for none
};

class StagedInstallerTest
    : public testing_support::PlatformTableTest<FaultCase> {
 protected:
  void SetUp() override {
    PlatformTableTest::SetUp();
    fake::files().random = {std::wstring(32, L'f')};
    testing_support::writeFile(fake::localPath(at(kSetup)), "MZ");
  }
  std::wstring at(const std::wstring& name) const {
    return dir_.wpath() + L"\\" + name;
  }
  void apply(const std::string& fault) {
    fake::FilesState& files = fake::files();
    if (fault == "folder link") files.reparsePoints.insert(folder_);
    if (fault == "copy link") files.reparsePoints.insert(copy_);
    if (fault == "two names") files.links[copy_] = 2;
    if (fault == "elsewhere") files.finalPaths[copy_] = L"C:\\x\\setup.exe";
    if (fault == "no dacl") files.protectFails = true;
    if (fault == "file beside") {
      testing_support::writeFile(fake::localPath(folder_ + L"\\a.dll"), "");
    }
  }

  testing_support::TempDir dir_;
  const std::wstring folder_ = at(L"install-" + std::wstring(32, L'f'));
  const std::wstring copy_ = folder_ + L"\\" + kSetup;
  std::unique_ptr<UpdateSteps> steps_ = makeUpdateSteps(RunOptions());
};

TEST_P(StagedInstallerTest, StartsOnlyThePlainHeldCopy) {
  const FaultCase& c = GetParam();
  if (c.beforeStaging) apply(c.fault);
  const std::wstring staged = steps_->stageInstaller(at(kSetup));
  if (c.beforeStaging && *c.reason) {
    EXPECT_EQ(staged, L"");
    EXPECT_FALSE(exists(fake::localPath(folder_)));
  } else {
    ASSERT_EQ(staged, copy_);
    EXPECT_EQ(testing_support::readFile(fake::localPath(copy_)), "MZ");
    EXPECT_EQ(fake::files().protectedFolders,
              std::vector<std::wstring>{folder_});
    apply(c.fault);
    EXPECT_EQ(steps_->launchInstaller(staged) == UpdateSteps::Act::kDone,
              !*c.reason);
  }
  EXPECT_EQ(fake::shell().launches.size(), !*c.reason ? 1u : 0u);
  const std::string log = testing_support::ProcessLog::sinceMark();
  const std::string error = std::string("[ERROR] ") + c.reason;
  EXPECT_EQ(log.find(error) != std::string::npos, *c.reason != '\0') << log;
}

constexpr const char* kLink = "The installer's folder or copy is a link;";
constexpr const char* kNames = "The installer's copy has 2 names;";

INSTANTIATE_TEST_SUITE_P(
    Faults, StagedInstallerTest,
    ::testing::Values(
        FaultCase{"Plain", "", false, ""},
        // A mount point put on the still-empty folder.
        FaultCase{"FolderIsAMountPoint", "folder link", true, kLink},
        FaultCase{"CopyIsALink", "copy link", false, kLink},
        FaultCase{"SecondName", "two names", true, kNames},
        FaultCase{"SecondNameBeforeTheStart", "two names", false, kNames},
        FaultCase{"ResolvesElsewhere", "elsewhere", false,
                  "The installer's copy is at C:\\x\\setup.exe, not "},
        FaultCase{"NoDacl", "no dacl", true,
                  "The installer's folder cannot be protected;"},
        FaultCase{"FileBeside", "file beside", false,
                  "The installer's folder holds other files; it is not "
                  "started.\r\n"}),
    testing_support::CaseName());

// Left copies go; one in use (held, or running), a link and another name stay.
TEST_F(StagedInstallerTest, SweepRemovesLeftCopiesButNoneInUseNorLinks) {
  const std::wstring left = at(L"install-" + std::wstring(31, L'a'));
  const std::wstring folders[] = {left + L"a", left + L"b", left + L"c",
                                  at(L"install-old"), left + L"d"};
  for (const std::wstring& folder : folders) {
    std::filesystem::create_directories(fake::localPath(folder));
    testing_support::writeFile(fake::localPath(folder + L"\\" + kSetup), "MZ");
  }
  fake::files().held[folders[1] + L"\\" + kSetup] = 1;
  fake::files().reparsePoints.insert(folders[2]);
  // A link without the attribute (Wine's symbolic links): it leads elsewhere.
  fake::files().finalPaths[folders[4]] = L"C:\\Users\\u\\Documents";

  ASSERT_EQ(steps_->stageInstaller(at(kSetup)), copy_);

  EXPECT_FALSE(exists(fake::localPath(folders[0])));
  for (int kept = 1; kept < 5; ++kept) {
    EXPECT_TRUE(exists(fake::localPath(folders[kept] + L"\\" + kSetup)));
  }
}

}  // namespace
