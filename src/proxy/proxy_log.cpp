#include "proxy/proxy_log.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "common/text.h"
#include "platform/debug_output.h"
#include "platform/environment.h"

namespace TSRN::ProxyManager {

namespace {

constexpr char kLinePrefix[] = "Tessarin   TsrnProxyManager   ";
constexpr char kTagSeparator[] = "   ";

// Read once during static initialisation, before the program's entry point
// (or DllMain's callers) can start threads; only read afterwards.
const bool g_logEnabled =
    ReadEnvironmentSwitch(L"TSRN_ENABLE_DEBUG_STRING", false);

std::string FormatText(const char* format, va_list args) {
  char buffer[kLogMessageBufferSize] = {};
  // vsnprintf cuts at the buffer and always terminates it.
  if (std::vsnprintf(buffer, sizeof buffer, format, args) < 0) return {};
  return buffer;
}

// vswprintf fails instead of cutting when the text does not fit, and leaves
// the buffer unspecified then; so the text is formatted whole into a buffer
// that grows as needed, and cut afterwards.
std::wstring FormatText(const wchar_t* format, va_list args) {
  constexpr std::size_t kLargestBuffer = std::size_t{1} << 24;
  for (std::size_t size = kLogMessageBufferSize; size <= kLargestBuffer;
       size *= 2) {
    std::vector<wchar_t> buffer(size, L'\0');
    va_list attempt;
    va_copy(attempt, args);
    const int written =
        std::vswprintf(buffer.data(), buffer.size(), format, attempt);
    va_end(attempt);
    if (written >= 0) {
      const std::size_t kept = std::min<std::size_t>(
          static_cast<std::size_t>(written), kLogMessageBufferSize - 1);
      return std::wstring(buffer.data(), kept);
    }
  }
  return {};
}

}  // namespace

bool IsLogEnabled() { return g_logEnabled; }

const char* LogTag(int level) {
  switch (level) {
    case LOG_LEVEL_TRACE:
      return "[TRACE]";
    case LOG_LEVEL_DEBUG:
      return "[DEBUG]";
    case LOG_LEVEL_ERROR:
      return "[ERROR]";
    case LOG_LEVEL_FATAL:
      return "[FATAL]";
    default:
      return "[INFO]";
  }
}

std::string FormatLogLine(int level, const char* format, va_list args) {
  std::string line = kLinePrefix;
  line += LogTag(level);
  line += kTagSeparator;
  if (format != nullptr) line += FormatText(format, args);
  line += '\n';
  return line;
}

std::wstring FormatLogLine(int level, const wchar_t* format, va_list args) {
  std::wstring line = tsdlm::widenBytes(kLinePrefix);
  line += tsdlm::widenBytes(LogTag(level));
  line += tsdlm::widenBytes(kTagSeparator);
  if (format != nullptr) line += FormatText(format, args);
  line += L'\n';
  return line;
}

void LogMessage(int level, const char* format, ...) {
  if (!g_logEnabled || format == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::string line = FormatLogLine(level, format, args);
  va_end(args);
  platform::outputDebugStringA(line);
}

void LogMessage(int level, const wchar_t* format, ...) {
  if (!g_logEnabled || format == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::wstring line = FormatLogLine(level, format, args);
  va_end(args);
  platform::outputDebugStringW(line);
}

void ReportApiFailure(const wchar_t* apiName) {
  const std::uint32_t code = platform::lastError();
  const std::wstring description = platform::systemErrorText(code);
  LogMessage(LOG_LEVEL_ERROR, L"%ls() API failed. Error:%lu Description:%ls",
             apiName != nullptr ? apiName : L"",
             static_cast<unsigned long>(code), description.c_str());
}

bool ReadEnvironmentSwitch(const wchar_t* name, bool defaultValue) {
  if (name == nullptr) return defaultValue;
  std::wstring value;
  bool tooLong = false;
  if (!platform::readEnvironmentVariable(name, value, 1024, tooLong) ||
      tooLong || value.empty()) {
    return defaultValue;
  }
  if (tsdlm::equalsIgnoreCaseAscii(value, L"TRUE")) return true;
  if (tsdlm::equalsIgnoreCaseAscii(value, L"FALSE")) return false;
  return defaultValue;
}

}  // namespace TSRN::ProxyManager
