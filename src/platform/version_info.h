// File version resources (VS_FIXEDFILEINFO) of executables.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The step of a version lookup that failed.
enum class VersionLookupStep {
  kNone,       // the lookup succeeded
  kSize,       // the size query gave 0 (no version resource, no file)
  kInfo,       // reading the version information failed
  kRootBlock,  // the "\" block is missing or too short for the record
};

// The fixed file information of one file: its signature and the four words
// of the file version in the order major, minor, build, revision.
struct FileVersionInfo {
  VersionLookupStep failedStep = VersionLookupStep::kSize;
  std::uint32_t signature = 0;
  std::uint16_t words[4] = {0, 0, 0, 0};
};

// GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW("\").
FileVersionInfo readFileVersion(const std::wstring& path);

// The same through GetFileVersionInfoSizeExW and GetFileVersionInfoExW with
// FILE_VER_GET_LOCALISED.
FileVersionInfo readLocalisedFileVersion(const std::wstring& path);

}  // namespace platform
