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

  // The normal run's working folder inside the temporary folder.
  static constexpr const wchar_t* kWorkingFolder = L"TsDLM";

  // (temporary folder)\<folder>\update.xml; the folder is created on
  // demand. Empty when the temporary folder is unknown.
  static std::wstring getManifestPath(
      const std::wstring& folder = kWorkingFolder);
  // (temporary folder)\<folder>\TessarinDownloadManagerSetup.exe.
  static std::wstring getInstallerPath(
      const std::wstring& folder = kWorkingFolder);
  // (temporary folder)\<folder>\TsDLMUpdater.log.
  static std::wstring getTempLogPath(
      const std::wstring& folder = kWorkingFolder);
  // (Public Documents)\Tessarin\TsDLM\TsDLMUpdater.log; the folders are
  // created on demand. Empty when the known folder cannot be found.
  static std::wstring getSharedLogPath();

  // File version of the installed executable as "a.b.c.d", or empty.
  // Nothing is logged.
  static std::string getInstalledVersion();
  // File version of the downloaded installer at `path` as "a.b.c.d", or
  // empty (with a log entry that carries no line end).
  static std::string getDownloadedVersion(const std::wstring& path);

  // Pieces of a version string up to each ".". A final "." adds no piece.
  static std::vector<std::string> splitVersion(const std::string& text);
  // True only when `candidate` is strictly higher than `reference`; both
  // must have four pieces. Logs "Compare Version: ..." first.
  static bool isVersionHigher(const std::string& candidate,
                              const std::string& reference);
  // True when both have four pieces and the numbers are equal piece by
  // piece, read as isVersionHigher reads them. Logs nothing.
  static bool isSameVersion(const std::string& a, const std::string& b);
};
