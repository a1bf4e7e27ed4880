#include <windows.h>

#include <vector>

#include "platform/version_info.h"

namespace platform {

namespace {

FileVersionInfo failedAt(VersionLookupStep step) {
  FileVersionInfo result;
  result.failedStep = step;
  return result;
}

// A version resource of `size` bytes (0: none), copied by `fill`, read to
// its "\" block. The block must be long enough for a whole record: a version
// resource that reports a shorter block (possible in a downloaded file)
// would otherwise be read past its end.
template <typename Fill>
FileVersionInfo readResource(DWORD size, const Fill& fill) {
  if (size == 0) return failedAt(VersionLookupStep::kSize);
  std::vector<unsigned char> buffer(size);
  if (!fill(size, buffer.data())) return failedAt(VersionLookupStep::kInfo);
  void* block = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(buffer.data(), L"\\", &block, &length) ||
      block == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    return failedAt(VersionLookupStep::kRootBlock);
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
  FileVersionInfo result;
  result.failedStep = VersionLookupStep::kNone;
  result.signature = fixed->dwSignature;
  result.words[0] = HIWORD(fixed->dwFileVersionMS);
  result.words[1] = LOWORD(fixed->dwFileVersionMS);
  result.words[2] = HIWORD(fixed->dwFileVersionLS);
  result.words[3] = LOWORD(fixed->dwFileVersionLS);
  return result;
}

using SizeExFunction = DWORD(WINAPI*)(DWORD, LPCWSTR, LPDWORD);
using InfoExFunction = BOOL(WINAPI*)(DWORD, LPCWSTR, DWORD, DWORD, LPVOID);

struct VersionExFunctions {
  SizeExFunction size = nullptr;
  InfoExFunction info = nullptr;
};

template <typename Function>
Function exported(HMODULE module, const char* name) {
  // Through a plain function pointer type: FARPROC does not convert to the
  // real signature without a cast that compilers warn about.
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The Ex functions are taken from version.dll at run time: the mingw-w64
// import library of version.dll lacks them (only the Windows 8 API-set
// libraries have them). version.dll is loaded already, as the plain
// functions are imported from it.
const VersionExFunctions& versionExFunctions() {
  static const VersionExFunctions functions = [] {
    VersionExFunctions found;
    const HMODULE module = GetModuleHandleW(L"version.dll");
    if (module != nullptr) {
      found.size =
          exported<SizeExFunction>(module, "GetFileVersionInfoSizeExW");
      found.info = exported<InfoExFunction>(module, "GetFileVersionInfoExW");
    }
    return found;
  }();
  return functions;
}

}  // namespace

FileVersionInfo readFileVersion(const std::wstring& path) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  return readResource(size, [&](DWORD bytes, void* buffer) {
    return GetFileVersionInfoW(path.c_str(), handle, bytes, buffer) != FALSE;
  });
}

FileVersionInfo readLocalisedFileVersion(const std::wstring& path) {
  const VersionExFunctions& ex = versionExFunctions();
  if (ex.size == nullptr || ex.info == nullptr) {
    return failedAt(VersionLookupStep::kSize);
  }
  const DWORD size = ex.size(FILE_VER_GET_LOCALISED, path.c_str(), nullptr);
  return readResource(size, [&](DWORD bytes, void* buffer) {
    return ex.info(FILE_VER_GET_LOCALISED, path.c_str(), 0, bytes, buffer) !=
           FALSE;
  });
}

}  // namespace platform
