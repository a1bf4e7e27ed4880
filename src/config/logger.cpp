#include "config/logger.h"

#include <cstdlib>
#include <ctime>

#include "config/util.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

std::FILE* openLog(const std::wstring& path) {
  if (path.empty()) return nullptr;
  return platform::openFile(path, L"wb");
}

void writeEntry(std::FILE* stream, const std::string& entry) {
  if (stream == nullptr) return;
  std::fwrite(entry.data(), 1, entry.size(), stream);
  std::fflush(stream);
}

void closeInstanceAtExit() { Logger::instance().close(); }

// The logger is made once: by the first instance() call (the two files), or
// by redirectTo before it (a sink).
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
  std::call_once(creation(), [] {
    created = new Logger(Util::getTempLogPath(), Util::getSharedLogPath());
    std::atexit(closeInstanceAtExit);
  });
  return *created;
}

bool Logger::redirectTo(Sink sink) {
  bool redirected = false;
  std::call_once(creation(), [&] {
    created = new Logger(std::move(sink));
    redirected = true;
  });
  return redirected;
}

Logger::Logger(Sink sink) : sink_(std::move(sink)) {}

Logger::Logger(const std::wstring& tempLogPath,
               const std::wstring& sharedLogPath)
    : tempLog_(openLog(tempLogPath)), sharedLog_(openLog(sharedLogPath)) {}

Logger::~Logger() { close(); }

void Logger::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (tempLog_ != nullptr) {
    std::fclose(tempLog_);
    tempLog_ = nullptr;
  }
  if (sharedLog_ != nullptr) {
    std::fclose(sharedLog_);
    sharedLog_ = nullptr;
  }
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
  if (sink_) {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_(message);
    return;
  }
  const std::string entry = timestamp() + message;
  std::lock_guard<std::mutex> lock(mutex_);
  writeEntry(tempLog_, entry);
  writeEntry(sharedLog_, entry);
}

void Logger::writeError(const std::string& message) {
  write("[ERROR] " + message);
}
