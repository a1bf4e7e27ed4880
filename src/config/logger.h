// The updater log: two files with identical content, one in the working
// folder and one under Public Documents.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

class Logger {
 public:
  // The process-wide logger. The first call opens (and so truncates) both
  // files; later calls return the same object. Streams are closed at exit.
  static Logger& instance();

  // Receives each entry's message (no timestamp) instead of the two files.
  using Sink = std::function<void(const std::string& message)>;
  // Makes the process-wide logger hand every entry to `sink` and never open
  // (nor truncate) the two files. Only before the first call of instance();
  // false (and nothing changes) after it. The release check's mode.
  [[nodiscard]] static bool redirectTo(Sink sink);

  // Opens the two files with mode "wb". An empty path or a file that cannot
  // be opened leaves that stream null; it is then skipped on every write.
  Logger(const std::wstring& tempLogPath, const std::wstring& sharedLogPath);
  ~Logger();
  explicit Logger(Sink sink);
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // One entry: the local timestamp "%Y-%m-%d %X  " followed by the message as
  // given. No line end is added.
  void write(const std::string& message);
  // One entry whose text is "[ERROR] " followed by the message.
  void writeError(const std::string& message);

  // Closes both streams; later writes are dropped.
  void close();

  // The timestamp prefix of an entry at the current local time.
  static std::string timestamp();

 private:
  std::mutex mutex_;
  std::FILE* tempLog_ = nullptr;
  std::FILE* sharedLog_ = nullptr;
  Sink sink_;
};
