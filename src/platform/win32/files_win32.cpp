#include <aclapi.h>
#include <bcrypt.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <utility>

#include "platform/files.h"
#include "platform/win32/held_file_win32.h"
#include "platform/win32/owned.h"

namespace platform {

namespace {

struct AlgorithmKind {
  using Type = BCRYPT_ALG_HANDLE;
  static void release(BCRYPT_ALG_HANDLE algorithm) {
    BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};
struct HashKind {
  using Type = BCRYPT_HASH_HANDLE;
  static void release(BCRYPT_HASH_HANDLE hash) { BCryptDestroyHash(hash); }
};

}  // namespace

std::wstring tempPath() {
  wchar_t buffer[MAX_PATH] = {};
  if (GetTempPathW(MAX_PATH, buffer) == 0) return std::wstring();
  return buffer;
}

std::wstring publicDocumentsPath() {
  Owned<TaskMemoryKind> path;
  const HRESULT hr = SHGetKnownFolderPath(FOLDERID_PublicDocuments, 0, nullptr,
                                          path.receive());
  return SUCCEEDED(hr) && path ? std::wstring(path.get()) : std::wstring();
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
  const Owned<FindHandleKind> search(FindFirstFileW(pattern.c_str(), &found));
  if (!search) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search.get(), &found));
  return names;
}

namespace {

template <typename Text>
Text lowerHex(const std::vector<unsigned char>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  Text text;
  for (const unsigned char byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  return text;
}

}  // namespace

std::wstring randomHex(std::size_t bytes) {
  std::vector<unsigned char> random(bytes);
  if (bytes == 0 || !BCRYPT_SUCCESS(BCryptGenRandom(
                        nullptr, random.data(), static_cast<ULONG>(bytes),
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return std::wstring();
  }
  return lowerHex<std::wstring>(random);
}

void HeldFileCloser::operator()(HeldFile* file) const { delete file; }

namespace {

HeldFileHandle heldOrNull(OwnedHandle handle) {
  if (!handle) return HeldFileHandle();
  return HeldFileHandle(new HeldFile{std::move(handle)});
}

HeldFileHandle holdFolderWith(const std::wstring& path, DWORD access) {
  return heldOrNull(OwnedHandle(CreateFileW(
      path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr)));
}

bool markForDeletion(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != FALSE;
}

}  // namespace

HeldFileHandle holdFile(const std::wstring& path) {
  // Reading is shared, so that the file can still be started; writing,
  // renaming and deleting are not.
  return heldOrNull(OwnedHandle(CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
}

HeldFileHandle holdFolder(const std::wstring& path) {
  return holdFolderWith(path, GENERIC_READ);
}

HeldFileHandle holdFolderToProtect(const std::wstring& path) {
  // Once protected, a folder grants this right to administrators only: a
  // later run's sweep holds it without.
  return holdFolderWith(path, GENERIC_READ | WRITE_DAC);
}

HeldFileHandle openFileToWrite(const std::wstring& path, bool& created) {
  OwnedHandle handle(CreateFileW(
      path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  created = GetLastError() != ERROR_ALREADY_EXISTS;
  return heldOrNull(std::move(handle));
}

bool deleteHeldFile(HeldFile& file) {
  return markForDeletion(file.handle.get());
}

std::FILE* truncatedStream(HeldFileHandle file) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file->handle.get(), start, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(file->handle.get())) {
    return nullptr;
  }
  const int descriptor =
      _open_osfhandle(reinterpret_cast<std::intptr_t>(file->handle.get()),
                      _O_WRONLY | _O_BINARY);
  if (descriptor == -1) return nullptr;
  // The descriptor owns the handle now.
  (void)file->handle.release();
  std::FILE* stream = _fdopen(descriptor, "wb");
  if (stream == nullptr) _close(descriptor);
  return stream;
}

bool heldFileInfo(HeldFile& file, HeldFileInfo& info) {
  info = HeldFileInfo();
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!GetFileInformationByHandle(file.handle.get(), &facts)) return false;
  info.directory = (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.reparsePoint =
      (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  info.links = facts.nNumberOfLinks;
  info.size = (static_cast<std::uint64_t>(facts.nFileSizeHigh) << 32) |
              facts.nFileSizeLow;
  return true;
}

namespace {

std::wstring finalPathOf(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(
        handle, &path[0], static_cast<DWORD>(path.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      // "\\?\C:\..." and "\\?\UNC\server\..." as the shell knows them.
      if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        return L"\\\\" + path.substr(8);
      }
      if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
      return path;
    }
    path.assign(length, L'\0');  // the size asked for, terminator included
  }
  return std::wstring();
}

}  // namespace

std::wstring heldFinalPath(HeldFile& file) {
  return finalPathOf(file.handle.get());
}

bool protectHeldFolder(HeldFile& folder) {
  OwnedHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) {
    return false;
  }
  alignas(TOKEN_USER) unsigned char
      user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size)) {
    return false;
  }

  // Listing, reading, running and deleting; nothing that adds a file or a
  // folder, writes attributes (a reparse point) or changes permissions or
  // the owner.
  constexpr DWORD kUserRights =
      FILE_GENERIC_READ | FILE_GENERIC_EXECUTE | DELETE | FILE_DELETE_CHILD;
  struct Entry {
    WELL_KNOWN_SID_TYPE sid;  // WinNullSid: the user
    DWORD rights;
  };
  const Entry entries[] = {{WinNullSid, kUserRights},
                           {WinCreatorOwnerRightsSid, kUserRights},
                           {WinLocalSystemSid, FILE_ALL_ACCESS},
                           {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS}};
  constexpr int kEntries = 4;
  unsigned char sids[kEntries][SECURITY_MAX_SID_SIZE];
  EXPLICIT_ACCESSW access[kEntries] = {};
  for (int i = 0; i < kEntries; ++i) {
    PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    if (entries[i].sid != WinNullSid) {
      DWORD sidSize = SECURITY_MAX_SID_SIZE;
      if (!CreateWellKnownSid(entries[i].sid, nullptr, sids[i], &sidSize)) {
        return false;
      }
      sid = sids[i];
    }
    access[i].grfAccessPermissions = entries[i].rights;
    access[i].grfAccessMode = SET_ACCESS;
    access[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access[i].Trustee.ptstrName = static_cast<LPWSTR>(sid);
  }
  PACL made = nullptr;
  if (SetEntriesInAclW(kEntries, access, nullptr, &made) != ERROR_SUCCESS) {
    return false;
  }
  const OwnedLocal acl(made);
  // Protected: nothing the user grants on the working folder reaches in.
  return SetSecurityInfo(
             folder.handle.get(), SE_FILE_OBJECT,
             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
             nullptr, nullptr, made, nullptr) == ERROR_SUCCESS;
}

bool deleteFromHeldFolder(HeldFile& folder, const std::wstring& name) {
  const std::wstring folderPath = finalPathOf(folder.handle.get());
  if (folderPath.empty()) return false;
  const std::wstring path = folderPath + L"\\" + name;
  // Opened itself, never followed; a file held without shared deleting
  // (another run's copy) does not open at all.
  OwnedHandle handle(CreateFileW(
      path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return false;
  // The name must not have led out of the folder on the way.
  BY_HANDLE_FILE_INFORMATION facts{};
  return finalPathOf(handle.get()) == path &&
         GetFileInformationByHandle(handle.get(), &facts) &&
         (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         markForDeletion(handle.get());
}

std::size_t readHeldFile(HeldFile& file, std::uint64_t offset, void* buffer,
                         std::size_t size) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (size > 0xFFFFFFFFu || !ReadFile(file.handle.get(), buffer,
                                      static_cast<DWORD>(size), &read, &at)) {
    return 0;
  }
  return read;
}

std::string heldFileSha256(HeldFile& file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.handle.get(), &size)) return std::string();
  Owned<AlgorithmKind> algorithm;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(
          algorithm.receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return std::string();
  }
  Owned<HashKind> hash;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.receive(), nullptr,
                                       0, nullptr, 0, 0))) {
    return std::string();
  }
  // Read to the size the file had when asked: a file that ends sooner (or
  // cannot be read) gives no digest.
  const std::uint64_t length = static_cast<std::uint64_t>(size.QuadPart);
  std::vector<unsigned char> block(64 * 1024);
  std::uint64_t done = 0;
  bool hashed = true;
  while (hashed && done < length) {
    const std::size_t got =
        readHeldFile(file, done, block.data(), block.size());
    hashed =
        got > 0 && BCRYPT_SUCCESS(BCryptHashData(hash.get(), block.data(),
                                                 static_cast<ULONG>(got), 0));
    done += got;
  }
  std::vector<unsigned char> digest(32);
  hashed = hashed && BCRYPT_SUCCESS(BCryptFinishHash(
                         hash.get(), digest.data(),
                         static_cast<ULONG>(digest.size()), 0));
  return hashed ? lowerHex<std::string>(digest) : std::string();
}

}  // namespace platform
