#include "config/logger.h"

#include <cstdlib>
#include <ctime>
#include <utility>

#include "common/text.h"
#include "config/util.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

// The shared log lies in a folder every user of the machine may write: a
// link at its name, or at one of its folders, would have the run empty and
// overwrite whatever file it leads to. So the file is opened without
// following a link at its name and without truncating it, and emptied only
// when the file opened is the very file named. A symbolic link under Wine
// carries no reparse attribute: the final path is what shows it. A second
// name (a hard link made to another file) would lead elsewhere under the
// same path. Otherwise `refusal` receives the entry that says so, a file
// this run created where the link led is removed again, and the log is not
// written.
std::FILE* openSharedLog(const std::wstring& path, std::string& refusal) {
  if (path.empty()) return nullptr;
  bool created = false;
  platform::HeldFileHandle file = platform::openFileToWrite(path, created);
  if (!file) return nullptr;
  platform::HeldFileInfo info;
  const std::wstring actual = platform::heldFinalPath(*file);
  if (!platform::heldFileInfo(*file, info) || info.directory ||
      info.reparsePoint || info.links != 1 ||
      tsdlm::lowerAsciiLetters(actual) != tsdlm::lowerAsciiLetters(path)) {
    refusal = "The shared log " + tsdlm::narrowLow8(path) +
              " is a link (final path " +
              (actual.empty() ? "unknown" : tsdlm::narrowLow8(actual)) + ", " +
              std::to_string(info.links) + " names); it is not written.\r\n";
    if (created) (void)platform::deleteHeldFile(*file);
    return nullptr;
  }
  return platform::truncatedStream(std::move(file));
}

void writeEntry(std::FILE* stream, const std::string& entry) {
  if (stream == nullptr) return;
  std::fwrite(entry.data(), 1, entry.size(), stream);
  std::fflush(stream);
}

void closeInstanceAtExit() { Logger::instance().close(); }

// The logger is made once: by start, or by the first instance() call.
std::once_flag& creation() {
  static std::once_flag flag;
  return flag;
}

Logger* created = nullptr;

}  // namespace

Logger& Logger::instance() {
  // Deliberately never destroyed: the worker thread may still log while the
  // process runs its exit handlers, so the exit handler only closes the
  // streams (under the lock) and later entries are dropped.
  // Before start: a log kept in memory, no file opened. Only a run's own
  // options name the files.
  std::call_once(creation(), [] { created = new Logger(); });
  return *created;
}

bool Logger::start(const RunOptions& options) {
  bool started = false;
  std::call_once(creation(), [&] {
    if (options.isCheck()) {
      created = new Logger();
    } else {
      created = new Logger(Util::getTempLogPath(options.workingFolder),
                           Util::getSharedLogPath());
      std::atexit(closeInstanceAtExit);
    }
    started = true;
  });
  return started;
}

Logger::Logger(const std::wstring& tempLogPath,
               const std::wstring& sharedLogPath)
    : tempLog_(tempLogPath.empty() ? nullptr
                                   : platform::openFile(tempLogPath, L"wb")),
      inMemory_(false) {
  std::string refusal;
  sharedLog_.reset(openSharedLog(sharedLogPath, refusal));
  if (!refusal.empty()) writeError(refusal);
}

Logger::~Logger() { close(); }

void Logger::close() {
  const std::lock_guard<std::mutex> lock(mutex_);
  tempLog_.reset();
  sharedLog_.reset();
}

std::string Logger::timestamp() {
  std::tm local{};
  // When the local time cannot be had, the zeroed record still yields a
  // timestamp of the usual shape.
  (void)platform::localNow(local);
  char buffer[80] = {};
  const std::size_t length =
      std::strftime(buffer, sizeof buffer, "%Y-%m-%d %X  ", &local);
  return std::string(buffer, length);
}

void Logger::write(const std::string& message) {
  const std::string entry = inMemory_ ? message : timestamp() + message;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (inMemory_) {
    entries_.push_back(entry);
    return;
  }
  writeEntry(tempLog_.get(), entry);
  writeEntry(sharedLog_.get(), entry);
}

std::vector<std::string> Logger::takeEntries() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(entries_, {});
}

void Logger::writeError(const std::string& message) {
  write("[ERROR] " + message);
}
