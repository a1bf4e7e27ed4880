// File system operations the updater needs, in portable types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The user's temporary folder with a trailing separator (GetTempPathW), or
// an empty string when it cannot be determined.
std::wstring tempPath();

// The machine-wide Public Documents folder (FOLDERID_PublicDocuments), or an
// empty string when the known-folder lookup fails.
std::wstring publicDocumentsPath();

// Appends `more` to `base` the way PathAppendW does: exactly one separator
// between the two parts, a leading separator of `more` not doubled.
std::wstring pathAppend(const std::wstring& base, const std::wstring& more);

// Strips the last path element (PathRemoveFileSpecW).
std::wstring pathRemoveFileSpec(const std::wstring& path);

// PathFileExistsW: true for an existing file or folder.
bool fileExists(const std::wstring& path);

// CreateDirectoryW without security attributes; false when it fails.
bool createDirectory(const std::wstring& path);

// DeleteFileW; false when it fails (a missing file included).
bool deleteFile(const std::wstring& path);

// _wfopen. Returns a null stream on failure.
std::FILE* openFile(const std::wstring& path, const wchar_t* mode);
// A stream that is closed when it goes out of scope.
struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FileStream = std::unique_ptr<std::FILE, FileCloser>;

// CopyFileW that fails when `to` exists already.
[[nodiscard]] bool copyNewFile(const std::wstring& from,
                               const std::wstring& to);

// RemoveDirectoryW: false when it fails (the folder is not empty, say).
bool removeDirectory(const std::wstring& path);

// The names of the entries in a folder, "." and ".." left out; empty when
// the folder cannot be listed.
std::vector<std::wstring> folderEntries(const std::wstring& path);

// `bytes` bytes from the system's cryptographic random source as lower-case
// hexadecimal, or an empty string when the source fails.
std::wstring randomHex(std::size_t bytes);

// A file held open for reading. While it is held, the file can be opened by
// others for reading (and run) but not for writing, and it cannot be
// renamed or deleted.
struct HeldFile;
struct HeldFileCloser {
  void operator()(HeldFile* file) const;
};
using HeldFileHandle = std::unique_ptr<HeldFile, HeldFileCloser>;

// Opens an existing file for reading, sharing reading only (CreateFileW with
// FILE_SHARE_READ). A link is opened itself, not followed
// (FILE_FLAG_OPEN_REPARSE_POINT). Null when it cannot be opened.
HeldFileHandle holdFile(const std::wstring& path);

// Opens an existing folder the same way (sharing reading and writing, not
// deleting): while it is held, the folder cannot be renamed or removed, so
// its path keeps naming it. A junction or mount point is opened itself.
// Null when it cannot be opened.
HeldFileHandle holdFolder(const std::wstring& path);
// The same, with the right to change the folder's permissions
// (protectHeldFolder), which its creator has until it uses it.
HeldFileHandle holdFolderToProtect(const std::wstring& path);

// Opens a file for writing, creating it when missing (`created` says so),
// without truncating it and without following a link at its name
// (FILE_FLAG_OPEN_REPARSE_POINT); others may read and write it meanwhile.
// Null when it cannot be opened.
HeldFileHandle openFileToWrite(const std::wstring& path, bool& created);
// Deletes the held file through its handle (one opened by openFileToWrite).
bool deleteHeldFile(HeldFile& file);
// Empties the file and turns its handle into a binary stream for writing;
// null when that fails (the handle is closed then).
std::FILE* truncatedStream(HeldFileHandle file);

// What the file system says of a held file or folder now, through its
// handle (GetFileInformationByHandle).
struct HeldFileInfo {
  bool directory = false;
  bool reparsePoint = false;  // a link, junction or mount point itself
  std::uint32_t links = 0;    // the names the file has (hard links)
  std::uint64_t size = 0;     // in bytes
};
// False when the handle cannot be asked.
[[nodiscard]] bool heldFileInfo(HeldFile& file, HeldFileInfo& info);

// The held file's full path as the file system resolves it now
// (GetFinalPathNameByHandleW, normalised, with drive letters; without the
// "\\?\" prefix), or empty when it cannot be had.
std::wstring heldFinalPath(HeldFile& file);

// Gives the held folder a protected DACL, inherited by what is in it: the
// user may list, read, execute and delete, but neither add files nor
// change permissions; an OWNER RIGHTS entry with the same rights takes the
// owner's implicit right to change them; SYSTEM and Administrators keep
// full control. False when it cannot be set.
[[nodiscard]] bool protectHeldFolder(HeldFile& folder);

// Deletes the file `name` in the held folder, only when that name resolves
// to a file whose final path lies in the folder (a link is deleted itself,
// never what it points at). False when it cannot be deleted: a file held
// open or running, a folder, a name that leads elsewhere.
bool deleteFromHeldFolder(HeldFile& folder, const std::wstring& name);

// Reads up to `size` bytes at `offset` into `buffer`; the number read (less
// at the end of the file), or 0 on failure.
std::size_t readHeldFile(HeldFile& file, std::uint64_t offset, void* buffer,
                         std::size_t size);

// The SHA-256 of the held file's whole content, read through its handle and
// hashed by the system (BCrypt), as 64 lower-case hexadecimal digits; empty
// when the file cannot be read to its end or the hash cannot be made.
std::string heldFileSha256(HeldFile& file);

}  // namespace platform
