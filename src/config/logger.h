// The updater log: two files with identical content, one in the working
// folder and one under Public Documents.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "config/run_options.h"
#include "platform/files.h"

class Logger {
 public:
  // The process's log, made by start from the run's options. Called before
  // start, it makes a log kept in memory (no file is opened or truncated)
  // and start then fails. Streams are closed at exit.
  static Logger& instance();

  // Makes the process's log for a run with these options, before anything
  // has logged: the two files (the temporary one in the options' working
  // folder), or, for a check, a log kept in memory (each entry's message as
  // given, no timestamp), the files never opened nor truncated. False, and
  // nothing changes, once the log exists.
  [[nodiscard]] static bool start(const RunOptions& options);

  // Opens the two files with mode "wb". An empty path or a file that cannot
  // be opened leaves that stream null; it is then skipped on every write.
  // The shared log is not followed through a link, at its name or at a
  // folder: one that leads elsewhere is skipped, with an error entry in the
  // temporary log saying where it leads.
  Logger(const std::wstring& tempLogPath, const std::wstring& sharedLogPath);
  // A log kept in memory.
  Logger() = default;
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // One entry: the local timestamp "%Y-%m-%d %X  " followed by the message as
  // given. No line end is added.
  void write(const std::string& message);
  // One entry whose text is "[ERROR] " followed by the message.
  void writeError(const std::string& message);

  // Closes both streams; later writes are dropped.
  void close();
  // A log kept in memory: the entries written since the last call.
  std::vector<std::string> takeEntries();

  // The timestamp prefix of an entry at the current local time.
  static std::string timestamp();

 private:
  std::mutex mutex_;
  platform::FileStream tempLog_;
  platform::FileStream sharedLog_;
  const bool inMemory_ = true;
  std::vector<std::string> entries_;
};
