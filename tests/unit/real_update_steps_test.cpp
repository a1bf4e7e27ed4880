// The release check's real steps (makeUpdateSteps with a check's options)
// against the local update server and the fake platform: whatever its
// verdict, a check writes nothing outside its own folder, asks no process to
// quit, starts nothing and sends no event.
#include "app/update_steps.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/release_check.h"
#include "app/update_flow.h"
#include "config/util.h"
#include "fakes/fake_platform.h"
#include "unit/local_server.h"
#include "unit/minimal_pe.h"
#include "unit/scripted_steps.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using testing_support::TempDir;
using testing_support::writeFile;

struct CheckStepsCase {
  const char* name;
  bool signedInstaller;  // else the trust provider finds no signature
  CheckExit exitCode;
};

class CheckStepsTest
    : public testing_support::PlatformTableTest<CheckStepsCase> {
 protected:
  TempDir served_;
  TempDir machine_;
  testing_support::LocalServer server_{served_.path()};
};

TEST_P(CheckStepsTest, ChangeNothingOutsideTheCheckFolder) {
  const auto pe = testing_support::minimal_pe::buildPe();  // version 6.1.33.0
  writeFile(served_.file("setup.exe"), std::string(pe.begin(), pe.end()));
  writeFile(served_.file("update.xml"),
            "<installerInformation><version>6.1.33.0</version>"
            "<downloadLocationList><downloadLocation><url>" +
                server_.url("/") +
                "</url></downloadLocation></downloadLocationList>"
                "<platformFileList><file><platform>windows</platform>"
                "<filename>setup.exe</filename></file></platformFileList>"
                "</installerInformation>");
  fake::files().tempPath = machine_.wpath() + L"\\";
  fake::files().publicDocuments = machine_.wpath() + L"\\Public";
  // A running download manager with its window: a normal run asks it to quit.
  fake::processes().processes = {
      {77, testing_support::kProductFolder + L"TsDLMgr.exe"}};
  fake::processes().windows = {
      {1, 77, L"Tessarin Download Manager", true, 1, 0, {}}};
  RunOptions options;
  options.mode = RunOptions::Mode::kCheck;
  options.workingFolder = L"TsDLM-check";
  options.manifestUrl = server_.url("/update.xml");
  if (GetParam().signedInstaller) {
    // The staged copy, in a folder named after the first random name.
    fake::files().random = {L"5eed"};
    const std::wstring download = Util::getInstallerPath(options.workingFolder);
    const std::size_t name = download.rfind(L'\\');
    const std::wstring staged =
        download.substr(0, name) + L"\\install-5eed" + download.substr(name);
    fake::trust().otherFiles = {0, 0};
    fake::trust().signers[staged].known = true;
    fake::trust().signers[staged].organisations = {L"Tessarin, Inc"};
  }

  const std::unique_ptr<UpdateSteps> steps = makeUpdateSteps(options);
  testing_support::RecordingUi ui;
  const CheckReport report =
      checkReport(CheckFacts{}, UpdateFlow(*steps, ui).run());

  EXPECT_EQ(report.exitCode, GetParam().exitCode) << report.text;
  EXPECT_TRUE(fake::processes().sent.empty());
  EXPECT_TRUE(fake::processes().started.empty());
  EXPECT_TRUE(fake::shell().launches.empty());
  EXPECT_TRUE(fake::analyticsCalls().empty());
  const std::string folder = machine_.path() + "/TsDLM-check/";
  int files = 0;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(machine_.path())) {
    if (!entry.is_directory()) {
      ++files;
      EXPECT_EQ(entry.path().string().rfind(folder, 0), 0u) << entry.path();
    }
  }
  EXPECT_GT(files, 0);  // the manifest and the installer, in the folder
  for (const auto& [path, mode] : fake::files().opened) {
    if (mode.find_first_of(L"wa+") != std::wstring::npos) {
      EXPECT_EQ(fake::localPath(path).rfind(folder, 0), 0u)
          << fake::localPath(path);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, CheckStepsTest,
    ::testing::Values(CheckStepsCase{"WouldInstall", true, kWouldInstall},
                      CheckStepsCase{"RefusedThreeTimes", false, kRefused}),
    testing_support::CaseName());

}  // namespace
