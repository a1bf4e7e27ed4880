// The proxy manager's log: lines on the debugger output channel, written only
// when TSRN_ENABLE_DEBUG_STRING said TRUE when the program was loaded.
//
// A line is "Tessarin   TsrnProxyManager   " + tag + "   " + message + "\n".
// The message is formatted printf-style into a buffer of 1024 characters
// (NUL included); longer messages are cut to 1023 characters.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#if defined(__GNUC__)
#define TSRN_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TSRN_PRINTF_FORMAT(fmt, args)
#endif

namespace TSRN::ProxyManager {

enum LogLevel : int {
  LOG_LEVEL_TRACE = 0,
  LOG_LEVEL_DEBUG = 1,
  LOG_LEVEL_INFO = 2,
  LOG_LEVEL_ERROR = 3,
  LOG_LEVEL_FATAL = 4,
};

constexpr std::size_t kLogMessageBufferSize = 1024;

// The switch as read at load time. Never changes afterwards.
bool IsLogEnabled();

// "[TRACE]" ... "[FATAL]"; "[INFO]" for any other level.
const char* LogTag(int level);

// The whole line for a message, formatted and cut as described above. In the
// wide variant string arguments are wide and are written "%ls" (the result
// is the same text the message's "%s" stands for). Never writes past the
// buffer; a format that cannot be formatted gives an empty message.
std::string FormatLogLine(int level, const char* format, va_list args);
std::wstring FormatLogLine(int level, const wchar_t* format, va_list args);

// Writes one line with OutputDebugStringA / OutputDebugStringW when the
// switch is on and the format is not null; otherwise formats nothing.
void LogMessage(int level, const char* format, ...) TSRN_PRINTF_FORMAT(2, 3);
void LogMessage(int level, const wchar_t* format, ...);

// Logs the thread's last error for the failed Windows call `apiName` at
// Error: "<name>() API failed. Error:<code> Description:<system text>".
// The last error is read before anything else can change it.
void ReportApiFailure(const wchar_t* apiName);

// TRUE or FALSE in any letter case; unset, empty, too long (1024 units or
// more) or any other value gives `defaultValue`.
[[nodiscard]] bool ReadEnvironmentSwitch(const wchar_t* name,
                                         bool defaultValue);

}  // namespace TSRN::ProxyManager
