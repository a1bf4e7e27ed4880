// The command-line modes other than the normal run: the release check
// ("/check") and the usage text.
#pragma once

#include <functional>
#include <string>

#include "app/command_line.h"

// Runs the release check of `line` (or, for kUsage, only prints the usage)
// on the calling thread and returns the process exit code: 0 would install
// or up to date, 1 would be refused, 2 could not check (also for kUsage and
// a report file that cannot be written, checked before anything else runs).
// `print` receives the text for the console; the report file, when given,
// receives the same report. The check works in its own folder beside the
// working folder, writes neither log file and sends no analytics event.
// Call before anything has logged. Never throws.
int runCheckCommand(
    const CommandLine& line,
    const std::function<void(const std::string&)>& print) noexcept;
