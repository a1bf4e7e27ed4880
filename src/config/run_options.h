// What one run of the updater is asked to do, decided once from its command
// line and handed to the code that builds the run's steps and its log.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// A log kept in memory instead of the two files: the release check's, whose
// report shows each entry under the step that wrote it.
class LogJournal {
 public:
  void add(const std::string& entry) {
    const std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
  }
  // The entries added since the last take, in order.
  std::vector<std::string> take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(entries_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> entries_;
};

struct RunOptions {
  // The normal run, or the release check (judges the offered release and
  // changes nothing).
  enum class Mode { kUpdate, kCheck };
  Mode mode = Mode::kUpdate;
  // The working folder's name inside the temporary folder: the manifest,
  // the installer, its staged copies and the temporary log live there.
  std::wstring workingFolder = L"TsDLM";
  // The manifest to fetch; empty: the settings' one (and their switch
  // obeyed). A check always names it.
  std::string manifestUrl;
  // libcurl's verbose output printed masked on the standard error stream
  // (a console shows it) rather than as libcurl writes it.
  bool maskTrace = false;
  // Set: the log goes here instead of the two files, which stay untouched.
  std::shared_ptr<LogJournal> journal;

  bool isCheck() const { return mode == Mode::kCheck; }
};
