// The copy of the downloaded installer that is checked and started: in a
// new folder of its own with an unpredictable name inside the working
// folder, held open from before the first check until the installer has
// started, and removed once it has ended.
#pragma once

#include <string>

#include "platform/files.h"

class StagedInstaller {
 public:
  StagedInstaller() = default;
  StagedInstaller(const StagedInstaller&) = delete;
  StagedInstaller& operator=(const StagedInstaller&) = delete;
  ~StagedInstaller() { remove(); }

  // Removes any earlier copy, then copies `downloaded` into a new folder
  // beside it and holds the copy. False (with nothing left behind) when the
  // folder cannot be made or the copy cannot be made or held.
  [[nodiscard]] bool stage(const std::wstring& downloaded);

  // The copy's full path; empty when nothing is staged.
  const std::wstring& path() const { return path_; }
  // The held copy; null when nothing is held.
  platform::HeldFile* file() const { return file_.get(); }
  // The file version from the held copy's own version resource, or empty.
  std::string ownVersion() const;
  // True when the folder holds the copy and nothing else.
  bool aloneInFolder() const;

  // Lets go of the copy (once the installer has started from it). The
  // folder stays held until it is removed.
  void release() { file_.reset(); }
  // Lets go of the copy, deletes it and removes its folder (which stays if
  // something else was put there).
  void remove();

 private:
  std::wstring folder_;
  std::wstring path_;
  platform::HeldFileHandle folderHandle_;
  platform::HeldFileHandle file_;
};
