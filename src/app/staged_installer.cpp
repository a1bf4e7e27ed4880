#include "app/staged_installer.h"

#include <chrono>
#include <thread>

#include "trust/pe_version.h"

namespace {

constexpr const wchar_t* kFolderPrefix = L"install-";
// 128 bits: a name nobody can guess ahead of time.
constexpr std::size_t kRandomBytes = 16;

// A program the installer started (its console host, the new download
// manager) can keep the folder as its current folder for a while after the
// installer itself has ended; the removal waits a little for it.
constexpr int kRemovalTries = 20;
constexpr std::chrono::milliseconds kRemovalPause{100};

bool isStagingFolderName(const std::wstring& name) {
  const std::wstring prefix = kFolderPrefix;
  if (name.size() != prefix.size() + 2 * kRandomBytes ||
      name.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    const wchar_t c = name[i];
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  }
  return true;
}

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
  // Folders an earlier run could not remove yet go now, when empty.
  for (const std::wstring& name : platform::folderEntries(working)) {
    if (isStagingFolderName(name)) {
      (void)platform::removeDirectory(platform::pathAppend(working, name));
    }
  }
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
  for (int attempt = 0; attempt < kRemovalTries; ++attempt) {
    if (!path_.empty() &&
        (platform::deleteFile(path_) || !platform::fileExists(path_))) {
      path_.clear();
    }
    if (path_.empty() && !folder_.empty() &&
        (platform::removeDirectory(folder_) || !platform::fileExists(folder_))) {
      folder_.clear();
    }
    if (path_.empty() && folder_.empty()) break;
    if (attempt + 1 < kRemovalTries) std::this_thread::sleep_for(kRemovalPause);
  }
  path_.clear();
  folder_.clear();
}
