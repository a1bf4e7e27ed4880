// The debugger output channel and the thread's last error code.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// OutputDebugStringW / OutputDebugStringA: one call per line.
void outputDebugStringW(const std::wstring& text);
void outputDebugStringA(const std::string& text);

// GetLastError / SetLastError.
std::uint32_t lastError();
void setLastError(std::uint32_t code);

// The system's message text for an error code (FormatMessageW from the
// system table, inserts ignored, the user's default language), with its own
// line ending. Empty when the system has no text for the code.
std::wstring systemErrorText(std::uint32_t code);

}  // namespace platform
