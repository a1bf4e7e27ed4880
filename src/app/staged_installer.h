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

  // Removes any earlier copy and the copies earlier runs left beside
  // `downloaded` (sweep), then copies `downloaded` into a new folder beside
  // it, holds the copy and protects the folder. False (with nothing left
  // behind) when the folder cannot be made, the copy cannot be made or
  // held, the folder cannot be protected or fault() finds something; the
  // last two write an error entry.
  [[nodiscard]] bool stage(const std::wstring& downloaded);

  // The copy's full path; empty when nothing is staged.
  const std::wstring& path() const { return path_; }
  // The held copy; null when nothing is held.
  platform::HeldFile* file() const { return file_.get(); }
  // The file version from the held copy's own version resource, or empty.
  std::string ownVersion() const;
  // True when the folder holds the copy and nothing else.
  bool aloneInFolder() const;
  // Why the copy must not be started, as the start of an error entry; empty
  // when the folder is a real folder holding the copy and nothing else, and
  // the copy is a plain file with one name whose final path is path().
  std::string fault() const;

  // Lets go of the copy (once the installer has started from it). The
  // folder stays held until it is removed.
  void release() { file_.reset(); }
  // Lets go of the copy, deletes it and removes its folder (which stays if
  // something else was put there).
  void remove();

  // Removes the staging folders in `working` with the copies in them,
  // except those in use (a copy held by another run, or running) and links.
  static void sweep(const std::wstring& working);

 private:
  std::wstring folder_;
  std::wstring path_;
  platform::HeldFileHandle folderHandle_;
  platform::HeldFileHandle file_;
};
