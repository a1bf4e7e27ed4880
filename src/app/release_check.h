// The release check ("TsDLMUpdater.exe /check"): the update flow run in
// check mode, and its report: what the flow found on the way, step by step,
// each step followed by the log entries it wrote, and the verdict with its
// exit code, all read from the flow's outcome.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/update_outcome.h"

// What the check is told about the machine before it starts.
struct CheckFacts {
  std::wstring settingsPath;
  bool settingsFound = false;
  // The manifest URL that will be fetched, and whether /manifest gave it.
  std::string manifestUrl;
  bool manifestGiven = false;
  // The settings' switch: reported, not obeyed.
  bool checksSwitchedOn = true;
  std::wstring installedPath;
  // The offered installer's URL, read from the downloaded manifest.
  std::string installerUrl;
  // Its size as the manifest names it, if it does.
  std::optional<std::uint64_t> installerSize;
};

// Exit codes of /check.
enum CheckExit : int { kWouldInstall = 0, kRefused = 1, kCannotCheck = 2 };

struct CheckReport {
  // Lines ending in CR LF, the last one the verdict.
  std::string text;
  CheckExit exitCode = kCannotCheck;
};

CheckReport checkReport(const CheckFacts& facts, const UpdateOutcome& outcome);

// A URL as the report shows it: a password in it replaced by "****".
std::string withoutPassword(const std::string& url);

// Runs the release check of `line` (or, for kUsage, only prints the usage)
// on the calling thread and returns the process exit code (kCannotCheck
// also for kUsage and for a report file that cannot be written, which is
// checked before anything else runs). `print` receives the text for the
// console; the report file, when given, receives the same report. The check
// works in its own folder beside the working folder, writes neither log
// file and sends no analytics event. Call before anything has logged.
// Never throws.
int runCheckCommand(
    const CommandLine& line,
    const std::function<void(const std::string&)>& print) noexcept;
