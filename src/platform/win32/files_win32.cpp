#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "platform/files.h"

namespace platform {

std::wstring tempPath() {
  wchar_t buffer[MAX_PATH] = {};
  if (GetTempPathW(MAX_PATH, buffer) == 0) return std::wstring();
  return buffer;
}

std::wstring publicDocumentsPath() {
  PWSTR path = nullptr;
  const HRESULT hr =
      SHGetKnownFolderPath(FOLDERID_PublicDocuments, 0, nullptr, &path);
  std::wstring result;
  if (SUCCEEDED(hr) && path != nullptr) result = path;
  // The buffer is released on failure too, as the API asks.
  CoTaskMemFree(path);
  return result;
}

std::wstring pathAppend(const std::wstring& base, const std::wstring& more) {
  wchar_t buffer[MAX_PATH] = {};
  if (base.size() >= MAX_PATH) return base;
  base.copy(buffer, base.size());
  if (!PathAppendW(buffer, more.c_str())) return base;
  return buffer;
}

std::wstring pathRemoveFileSpec(const std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  if (path.size() >= MAX_PATH) return std::wstring();
  path.copy(buffer, path.size());
  PathRemoveFileSpecW(buffer);
  return buffer;
}

bool fileExists(const std::wstring& path) {
  return PathFileExistsW(path.c_str()) != FALSE;
}

bool createDirectory(const std::wstring& path) {
  return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

bool deleteFile(const std::wstring& path) {
  return DeleteFileW(path.c_str()) != FALSE;
}

std::FILE* openFile(const std::wstring& path, const wchar_t* mode) {
  return _wfopen(path.c_str(), mode);
}

}  // namespace platform
