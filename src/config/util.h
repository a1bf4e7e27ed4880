// Fixed file locations, version lookups and version comparison.
#pragma once

#include <string>
#include <vector>

class Util {
 public:
  // "C:\Program Files (x86)\Common Files\Tessarin Shared\Tessarin Download
  // Manager\update.ini" when "ProgramFiles(x86)" is defined (any value),
  // the "C:\Program Files" form otherwise.
  static std::wstring getSettingsPath();
  // The installed download manager's executable, chosen by the same rule.
  static std::wstring getInstalledExecutablePath();

  // The working folder's name inside the temporary folder: "TsDLM", or the
  // release check's own folder once useCheckFolder has been called.
  static constexpr const wchar_t* kWorkingFolder = L"TsDLM";
  static constexpr const wchar_t* kCheckFolder = L"TsDLM-check";
  // From now on the working files (manifest, installer, staged copies, the
  // temporary log's path) live in (temporary folder)\TsDLM-check\, beside
  // the working folder, which stays untouched. Call before any other thread
  // runs.
  static void useCheckFolder();

  // (temporary folder)\TsDLM\update.xml; the folder is created on demand.
  // Empty when the temporary folder is unknown.
  static std::wstring getManifestPath();
  // (temporary folder)\TsDLM\TessarinDownloadManagerSetup.exe.
  static std::wstring getInstallerPath();
  // (temporary folder)\TsDLM\TsDLMUpdater.log.
  static std::wstring getTempLogPath();
  // (Public Documents)\Tessarin\TsDLM\TsDLMUpdater.log; the folders are
  // created on demand. Empty when the known folder cannot be found.
  static std::wstring getSharedLogPath();

  // File version of the installed executable as "a.b.c.d", or empty.
  // Nothing is logged.
  static std::string getInstalledVersion();
  // File version of the downloaded installer as "a.b.c.d", or empty (with a
  // log entry that carries no line end).
  static std::string getDownloadedVersion();

  // Pieces of a version string up to each ".". A final "." adds no piece.
  static std::vector<std::string> splitVersion(const std::string& text);
  // True only when `candidate` is strictly higher than `reference`; both
  // must have four pieces. Logs "Compare Version: ..." first.
  static bool isVersionHigher(const std::string& candidate,
                              const std::string& reference);
  // True when both have four pieces and the numbers are equal piece by
  // piece, read as isVersionHigher reads them. Logs nothing.
  static bool isSameVersion(const std::string& a, const std::string& b);

 private:
  static std::wstring workingFilePath(const wchar_t* fileName);
};
