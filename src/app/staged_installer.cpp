#include "app/staged_installer.h"

#include <chrono>
#include <string>
#include <thread>

#include "common/text.h"
#include "config/logger.h"
#include "config/pe_version.h"

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

void StagedInstaller::sweep(const std::wstring& working) {
  // The folders are judged by where the file system puts them: a short
  // temporary folder's path has a long final form.
  const platform::HeldFileHandle workingHeld = platform::holdFolder(working);
  if (!workingHeld) return;
  const std::wstring workingFinal = platform::heldFinalPath(*workingHeld);
  if (workingFinal.empty()) return;
  for (const std::wstring& name : platform::folderEntries(working)) {
    if (!isStagingFolderName(name)) continue;
    const std::wstring folder = platform::pathAppend(working, name);
    {
      // A junction or a link in its place is left alone: what it leads to
      // is not ours to delete. Under Wine a symbolic link to a folder
      // carries no reparse attribute; its final path, elsewhere than the
      // name listed, shows it there and on Windows alike.
      const platform::HeldFileHandle held = platform::holdFolder(folder);
      platform::HeldFileInfo info;
      if (!held || !platform::heldFileInfo(*held, info) || !info.directory ||
          info.reparsePoint ||
          platform::heldFinalPath(*held) != workingFinal + L"\\" + name) {
        continue;
      }
      // A copy still held by another run, or running, stays, and its
      // folder with it.
      for (const std::wstring& entry : platform::folderEntries(folder)) {
        (void)platform::deleteFromHeldFolder(*held, entry);
      }
    }
    (void)platform::removeDirectory(folder);
  }
}

bool StagedInstaller::stage(const std::wstring& downloaded) {
  remove();
  const std::wstring random = platform::randomHex(kRandomBytes);
  const std::wstring working = platform::pathRemoveFileSpec(downloaded);
  if (random.empty() || working.empty()) return false;
  // Copies earlier runs left (one ended during the installation, say) go
  // now, unless in use.
  sweep(working);
  // Created here and now, so no one can have put anything into it before;
  // it fails if the name exists.
  const std::wstring folder =
      platform::pathAppend(working, kFolderPrefix + random);
  if (!platform::createDirectory(folder)) return false;
  folder_ = folder;
  // Nothing is left behind by a stage that fails; `why` is logged.
  const auto failed = [this](const std::string& why = std::string()) {
    if (!why.empty()) {
      Logger::instance().writeError(why + "; it is not used.\r\n");
    }
    remove();
    return false;
  };
  // Held as well: a folder renamed away and replaced by another of the same
  // name would put other files behind the paths that are checked and run.
  folderHandle_ = platform::holdFolderToProtect(folder);
  if (!folderHandle_) return failed();
  const std::wstring copy = platform::pathAppend(folder, fileName(downloaded));
  if (!platform::copyNewFile(downloaded, copy)) return failed();
  path_ = copy;
  file_ = platform::holdFile(copy);
  if (!file_) return failed();
  // From now on only an administrator adds a file beside the copy or turns
  // the folder into a link; what came before shows in fault().
  if (!platform::protectHeldFolder(*folderHandle_)) {
    return failed("The installer's folder cannot be protected");
  }
  // Checked and started by the path the file system gives the held copy
  // (the long form of a short temporary folder's path, say).
  path_ = platform::heldFinalPath(*file_);
  const std::string problem = fault();
  return problem.empty() || failed(problem);
}

std::string StagedInstaller::fault() const {
  platform::HeldFileInfo folder;
  platform::HeldFileInfo copy;
  if (!file_ || !folderHandle_ || path_.empty() ||
      !platform::heldFileInfo(*folderHandle_, folder) ||
      !platform::heldFileInfo(*file_, copy)) {
    return "The installer's copy cannot be examined";
  }
  // A mount point put on the still-empty folder would have sent the copy
  // elsewhere; a link in place of the copy would start another file.
  if (!folder.directory || folder.reparsePoint || copy.directory ||
      copy.reparsePoint) {
    return "The installer's folder or copy is a link";
  }
  // Through a second name the file could be changed once it is released.
  if (copy.links != 1) {
    return "The installer's copy has " + std::to_string(copy.links) + " names";
  }
  const std::wstring actual = platform::heldFinalPath(*file_);
  if (actual != path_ || actual != platform::heldFinalPath(*folderHandle_) +
                                       L"\\" + fileName(path_)) {
    return "The installer's copy is at " + tsdlm::narrowLow8(actual) +
           ", not " + tsdlm::narrowLow8(path_);
  }
  if (!aloneInFolder()) {
    // Something was put beside the copy after its folder was made: it
    // could be loaded with the installer.
    return "The installer's folder holds other files";
  }
  return std::string();
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
        (platform::removeDirectory(folder_) ||
         !platform::fileExists(folder_))) {
      folder_.clear();
    }
    if (path_.empty() && folder_.empty()) break;
    if (attempt + 1 < kRemovalTries) std::this_thread::sleep_for(kRemovalPause);
  }
  path_.clear();
  folder_.clear();
}
