// Text for the person who started the updater from a command prompt.
#pragma once

#include <string>

namespace platform {

// Writes `text` as it is to the standard output when the process has one
// (redirected to a file or a pipe, or a terminal under Wine), otherwise to
// the console of the process that started it (a command prompt or
// PowerShell). Does nothing when there is neither.
void writeToConsole(const std::string& text);

}  // namespace platform
