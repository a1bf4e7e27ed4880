#include "config/util.h"

#include "platform/environment.h"
#include "platform/files.h"

namespace {

// The drive letter and folder names are fixed text: only whether the
// variable exists decides between the two forms.
std::wstring installedProductFolder() {
  const bool x86 = platform::isEnvironmentVariableDefined("ProgramFiles(x86)");
  return std::wstring(x86 ? L"C:\\Program Files (x86)" : L"C:\\Program Files") +
         L"\\Common Files\\Tessarin Shared\\Tessarin Download Manager\\";
}

void createFolderIfMissing(const std::wstring& folder) {
  if (!platform::fileExists(folder)) (void)platform::createDirectory(folder);
}

std::wstring workingFilePath(const std::wstring& workingFolder,
                             const wchar_t* fileName) {
  const std::wstring temp = platform::tempPath();
  if (temp.empty()) return std::wstring();
  const std::wstring folder =
      platform::pathAppend(temp, std::wstring(L"\\") + workingFolder + L"\\");
  createFolderIfMissing(folder);
  return platform::pathAppend(folder, fileName);
}

}  // namespace

std::wstring Util::getSettingsPath() {
  return installedProductFolder() + L"update.ini";
}

std::wstring Util::getInstalledExecutablePath() {
  return installedProductFolder() + L"TSRN.DLM.exe";
}

std::wstring Util::getManifestPath(const std::wstring& folder) {
  return workingFilePath(folder, L"\\update.xml");
}

std::wstring Util::getInstallerPath(const std::wstring& folder) {
  return workingFilePath(folder, L"\\TessarinDownloadManagerSetup.exe");
}

std::wstring Util::getTempLogPath(const std::wstring& folder) {
  return workingFilePath(folder, L"\\TsDLMUpdater.log");
}

std::wstring Util::getSharedLogPath() {
  const std::wstring documents = platform::publicDocumentsPath();
  if (documents.empty()) return std::wstring();
  const std::wstring tessarin = documents + L"\\Tessarin";
  createFolderIfMissing(tessarin);
  const std::wstring working = tessarin + L"\\TsDLM";
  createFolderIfMissing(working);
  return working + L"\\TsDLMUpdater.log";
}
