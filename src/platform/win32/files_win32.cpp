#include <windows.h>
#include <bcrypt.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "platform/files.h"
#include "platform/win32/held_file_win32.h"

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

bool copyNewFile(const std::wstring& from, const std::wstring& to) {
  return CopyFileW(from.c_str(), to.c_str(), TRUE) != FALSE;
}

bool removeDirectory(const std::wstring& path) {
  return RemoveDirectoryW(path.c_str()) != FALSE;
}

std::vector<std::wstring> folderEntries(const std::wstring& path) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = path + L"\\*";
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::wstring randomHex(std::size_t bytes) {
  std::vector<unsigned char> random(bytes);
  if (bytes == 0 ||
      !BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random.data(),
                                      static_cast<ULONG>(bytes),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return std::wstring();
  }
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (const unsigned char byte : random) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  return text;
}

void HeldFileCloser::operator()(HeldFile* file) const {
  if (file == nullptr) return;
  CloseHandle(file->handle);
  delete file;
}

HeldFileHandle holdFile(const std::wstring& path) {
  // Reading is shared, so that the file can still be started; writing,
  // renaming and deleting are not.
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return HeldFileHandle();
  return HeldFileHandle(new HeldFile{handle});
}

HeldFileHandle holdFolder(const std::wstring& path) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return HeldFileHandle();
  return HeldFileHandle(new HeldFile{handle});
}

std::size_t readHeldFile(HeldFile& file, std::uint64_t offset, void* buffer,
                         std::size_t size) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (size > 0xFFFFFFFFu ||
      !ReadFile(file.handle, buffer, static_cast<DWORD>(size), &read, &at)) {
    return 0;
  }
  return read;
}

}  // namespace platform
