#include "app/staged_installer.h"

#include "trust/pe_version.h"

namespace {

constexpr const wchar_t* kFolderPrefix = L"install-";
// 128 bits: a name nobody can guess ahead of time.
constexpr std::size_t kRandomBytes = 16;

std::wstring fileName(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"\\/");
  return last == std::wstring::npos ? path : path.substr(last + 1);
}

}  // namespace

bool StagedInstaller::stage(const std::wstring& downloaded) {
  remove();
  const std::wstring random = platform::randomHex(kRandomBytes);
  const std::wstring working = platform::pathRemoveFileSpec(downloaded);
  if (random.empty() || working.empty()) return false;
  // Created here and now, so no one can have put anything into it before;
  // it fails if the name exists.
  const std::wstring folder = platform::pathAppend(working, kFolderPrefix + random);
  if (!platform::createDirectory(folder)) return false;
  folder_ = folder;
  // Held as well: a folder renamed away and replaced by another of the same
  // name would put other files behind the paths that are checked and run.
  folderHandle_ = platform::holdFolder(folder);
  if (!folderHandle_) {
    remove();
    return false;
  }
  const std::wstring copy = platform::pathAppend(folder, fileName(downloaded));
  if (!platform::copyNewFile(downloaded, copy)) {
    remove();
    return false;
  }
  path_ = copy;
  file_ = platform::holdFile(copy);
  if (!file_) {
    remove();
    return false;
  }
  return true;
}

std::string StagedInstaller::ownVersion() const {
  platform::HeldFile* held = file_.get();
  if (held == nullptr) return std::string();
  return readPeFileVersion(
      [held](std::uint64_t offset, void* buffer, std::size_t size) {
        return platform::readHeldFile(*held, offset, buffer, size);
      });
}

bool StagedInstaller::aloneInFolder() const {
  if (path_.empty()) return false;
  const std::vector<std::wstring> entries = platform::folderEntries(folder_);
  return entries.size() == 1 && entries.front() == fileName(path_);
}

void StagedInstaller::remove() {
  file_.reset();
  folderHandle_.reset();
  if (!path_.empty()) (void)platform::deleteFile(path_);
  if (!folder_.empty()) (void)platform::removeDirectory(folder_);
  path_.clear();
  folder_.clear();
}
