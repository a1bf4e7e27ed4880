// The installed and the downloaded version, read through the fake version
// lookups.
#include <gtest/gtest.h>

#include <string>

#include "config/logger.h"
#include "config/util.h"
#include "fakes/fake_platform.h"
#include "unit/process_log.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using platform::FileVersionInfo;
using platform::VersionLookupStep;
using testing_support::ProcessLog;
using testing_support::TempDir;

const std::wstring kInstalled =
    testing_support::kProductFolder + L"TSRN.DLM.exe";
const std::wstring kInstalledX86 =
    testing_support::kX86ProductFolder + L"TSRN.DLM.exe";
constexpr std::uint32_t kSignature = 0xFEEF04BDu;

struct LookupCase {
  const char* name;
  FileVersionInfo info;
  std::string installed;   // getInstalledVersion
  std::string downloaded;  // getDownloadedVersion (no signature check)
};

const VersionLookupStep kOk = VersionLookupStep::kNone;

class VersionLookupTest
    : public testing_support::PlatformTableTest<LookupCase> {
 protected:
  void SetUp() override {
    PlatformTableTest::SetUp();
    fake::files().tempPath = dir_.wpath() + L"\\";
  }
  TempDir dir_;
};

TEST_P(VersionLookupTest, InstalledVersionLogsNothing) {
  fake::versionInfo().files[kInstalled] = GetParam().info;
  EXPECT_EQ(Util::getInstalledVersion(), GetParam().installed);
  ASSERT_EQ(fake::versionInfo().calls.size(), 1u);
  EXPECT_FALSE(fake::versionInfo().calls[0].localised);
  EXPECT_EQ(ProcessLog::sinceMark(), "");
}

TEST_P(VersionLookupTest, DownloadedVersionUsesTheLocalisedLookup) {
  const std::wstring installer = Util::getInstallerPath();
  ASSERT_EQ(installer,
            dir_.wpath() + L"\\TsDLM\\TessarinDownloadManagerSetup.exe");
  testing_support::writeFile(
      dir_.file("TsDLM/TessarinDownloadManagerSetup.exe"), "MZ");
  fake::versionInfo().files[installer] = GetParam().info;

  EXPECT_EQ(Util::getDownloadedVersion(Util::getInstallerPath()),
            GetParam().downloaded);
  ASSERT_EQ(fake::versionInfo().calls.size(), 1u);
  EXPECT_TRUE(fake::versionInfo().calls[0].localised);
  const std::string log = ProcessLog::sinceMark();
  if (GetParam().downloaded.empty()) {
    // No line end: the next entry continues this line.
    EXPECT_EQ(
        log,
        Logger::timestamp() +
            "[ERROR] ERROR: Util::getDownloadedVersion(): Failed to get the "
            "file version!");
  } else {
    EXPECT_EQ(log, "");
  }
}

const LookupCase kLookups[] = {
    {"Usual", {kOk, kSignature, {6, 1, 32, 0}}, "6.1.32.0", "6.1.32.0"},
    {"AllZero", {kOk, kSignature, {0, 0, 0, 0}}, "0.0.0.0", "0.0.0.0"},
    {"LargestWords",
     {kOk, kSignature, {65535, 65535, 65535, 65535}},
     "65535.65535.65535.65535",
     "65535.65535.65535.65535"},
    {"BadSignature", {kOk, 0xFEEF04BCu, {6, 1, 33, 0}}, "", "6.1.33.0"},
    {"NoResource", {VersionLookupStep::kSize, 0, {}}, "", ""},
    {"InfoUnreadable", {VersionLookupStep::kInfo, 0, {}}, "", ""},
    {"NoRootBlock", {VersionLookupStep::kRootBlock, 0, {}}, "", ""},
};

INSTANTIATE_TEST_SUITE_P(Table, VersionLookupTest,
                         ::testing::ValuesIn(kLookups),
                         testing_support::CaseName());

TEST_F(VersionLookupTest, InstalledExecutableFollowsTheProgramFilesRule) {
  fake::environment().variables["ProgramFiles(x86)"] = L"E:\\x";
  fake::versionInfo().files[kInstalledX86] =
      FileVersionInfo{kOk, kSignature, {6, 2, 1, 7}};
  EXPECT_EQ(Util::getInstalledVersion(), "6.2.1.7");
  fake::environment().variables.clear();
  EXPECT_EQ(Util::getInstalledVersion(), "");
}

TEST_F(VersionLookupTest, NoInstallerLogsOneInfoEntryWithoutLineEnd) {
  EXPECT_EQ(Util::getDownloadedVersion(Util::getInstallerPath()), "");
  EXPECT_TRUE(fake::versionInfo().calls.empty());
  EXPECT_EQ(ProcessLog::sinceMark(),
            Logger::timestamp() + "INFO: Installer not downloaded!");
  // The missing working folder was created by the path lookup.
  EXPECT_TRUE(testing_support::exists(dir_.file("TsDLM")));
  EXPECT_EQ(fake::files().createDirectoryCalls, 1);
}

TEST_F(VersionLookupTest, UnknownTemporaryFolderMeansNoInstaller) {
  fake::files().tempPath.clear();
  EXPECT_EQ(Util::getDownloadedVersion(Util::getInstallerPath()), "");
  EXPECT_EQ(ProcessLog::sinceMark(),
            Logger::timestamp() + "INFO: Installer not downloaded!");
}

}  // namespace
