// The staged copy of the installer through the real update steps, with the
// file system's answers set in the fakes: what keeps the copy from being
// started, and the sweep of the copies earlier runs left.
#include "app/staged_installer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/update_steps.h"
#include "common/text.h"
#include "fakes/fake_platform.h"
#include "unit/process_log.h"
#include "unit/test_support.h"

namespace {

using testing_support::exists;
using testing_support::TempDir;
using testing_support::writeFile;

const std::wstring kRandom = L"0123456789abcdef0123456789abcdef";
const std::string kSetup = "TessarinDownloadManagerSetup.exe";

// Where the copy goes: the working folder, its staging folder, the copy.
struct Paths {
  std::wstring folder;
  std::wstring copy;
};

struct FaultCase {
  const char *name;
  void (*fault)(const Paths &);
  bool beforeStaging;  // else just before the start
  std::string entry;   // the error entry after "[ERROR] "; "" for none
};

void PrintTo(const FaultCase &c, std::ostream *out) { *out << c.name; }

class StagedInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::files().random = {kRandom};
    ASSERT_TRUE(testing_support::ProcessLog::bind());
    testing_support::ProcessLog::mark();
    writeFile(dir_.file(kSetup), "MZ installer");
    paths_.folder = dir_.wpath() + L"\\install-" + kRandom;
    paths_.copy = paths_.folder + L"\\" + tsdlm::widenBytes(kSetup);
  }
  std::wstring downloaded() const {
    return dir_.wpath() + L"\\" + tsdlm::widenBytes(kSetup);
  }
  std::string log() { return testing_support::ProcessLog::sinceMark(); }

  TempDir dir_;
  Paths paths_;
  std::unique_ptr<UpdateSteps> steps_ = makeRealUpdateSteps();
};

class StagedFaultTest : public StagedInstallerTest,
                        public ::testing::WithParamInterface<FaultCase> {};

TEST_P(StagedFaultTest, RefusesToStartAnythingButThePlainHeldCopy) {
  const FaultCase &c = GetParam();
  if (c.beforeStaging) c.fault(paths_);
  const std::wstring staged = steps_->stageInstaller(downloaded());
  if (c.beforeStaging && !c.entry.empty()) {
    EXPECT_EQ(staged, L"");
    EXPECT_FALSE(exists(fake::localPath(paths_.folder)));
  } else {
    ASSERT_EQ(staged, paths_.copy);
    EXPECT_THAT(fake::files().protectedFolders,
                ::testing::ElementsAre(paths_.folder));
    if (!c.beforeStaging) c.fault(paths_);
    EXPECT_EQ(steps_->launchInstaller(staged), c.entry.empty());
  }
  EXPECT_EQ(fake::shell().launches.size(), c.entry.empty() ? 1u : 0u);
  if (c.entry.empty()) {
    EXPECT_THAT(log(), ::testing::Not(::testing::HasSubstr("[ERROR]")));
  } else {
    EXPECT_THAT(log(), ::testing::EndsWith("  [ERROR] " + c.entry + "\r\n"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StagedFaultTest,
    ::testing::Values(
        FaultCase{"Plain", [](const Paths &) {}, false, ""},
        // A mount point put on the still-empty folder.
        FaultCase{"FolderIsAMountPoint",
                  [](const Paths &p) {
                    fake::files().reparsePoints.insert(p.folder);
                  },
                  true,
                  "The installer's folder or copy is a link; it is not used."},
        FaultCase{
            "CopyIsALinkBeforeTheStart",
            [](const Paths &p) { fake::files().reparsePoints.insert(p.copy); },
            false,
            "The installer's folder or copy is a link; it is not started."},
        FaultCase{"CopyHasASecondName",
                  [](const Paths &p) { fake::files().links[p.copy] = 2; }, true,
                  "The installer's copy has 2 names; it is not used."},
        FaultCase{"CopyHasASecondNameBeforeTheStart",
                  [](const Paths &p) { fake::files().links[p.copy] = 2; },
                  false,
                  "The installer's copy has 2 names; it is not started."},
        FaultCase{
            "FolderCannotBeProtected",
            [](const Paths &) { fake::files().protectFails = true; }, true,
            "The installer's folder cannot be protected; it is not used."},
        FaultCase{
            "FileAddedBesideTheCopy",
            [](const Paths &p) {
              writeFile(fake::localPath(p.folder + L"\\version.dll"), "x");
            },
            false,
            "The installer's folder holds other files; it is not started."}),
    [](const auto &info) { return std::string(info.param.name); });

// The held copy's final path is not the path that would be started.
TEST_F(StagedInstallerTest, CopyResolvingElsewhereIsNotStarted) {
  const std::wstring staged = steps_->stageInstaller(downloaded());
  ASSERT_EQ(staged, paths_.copy);
  fake::files().finalPaths[paths_.copy] = L"C:\\elsewhere\\setup.exe";
  EXPECT_FALSE(steps_->launchInstaller(staged));
  EXPECT_TRUE(fake::shell().launches.empty());
  EXPECT_THAT(log(), ::testing::EndsWith("  [ERROR] The installer's copy is at "
                                         "C:\\elsewhere\\setup.exe, not " +
                                         tsdlm::narrowLow8(paths_.copy) +
                                         "; it is not started.\r\n"));
}

TEST_F(StagedInstallerTest, SweepRemovesLeftCopiesButNoneInUseNorLinks) {
  const auto left = [this](const std::string &name) {
    const std::string folder = dir_.file(name);
    std::filesystem::create_directories(folder);
    writeFile(folder + "/" + kSetup, "MZ left");
    return dir_.wpath() + L"\\" + tsdlm::widenBytes(name) + L"\\" +
           tsdlm::widenBytes(kSetup);
  };
  const std::string hex = "install-" + std::string(31, 'a');
  const std::wstring stale = left(hex + "a");
  const std::wstring running = left(hex + "b");
  const std::wstring linked = left(hex + "c");
  const std::wstring other = left("install-old");
  fake::files().held[running] = 1;
  fake::files().reparsePoints.insert(dir_.wpath() + L"\\" +
                                     tsdlm::widenBytes(hex + "c"));

  ASSERT_EQ(steps_->stageInstaller(downloaded()), paths_.copy);

  EXPECT_FALSE(exists(dir_.file(hex + "a")));
  for (const std::wstring &kept : {running, linked, other}) {
    EXPECT_TRUE(exists(fake::localPath(kept))) << fake::localPath(kept);
  }
}

}  // namespace
