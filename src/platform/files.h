// File system operations the updater needs, in portable types.
#pragma once

#include <cstdio>
#include <string>

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

}  // namespace platform
