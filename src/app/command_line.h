// The updater's command line: the release check
// "/check [/manifest URL] [/report FILE]", or anything else for a normal
// run. Portable: the caller splits the command line into arguments (without
// the program's own name).
#pragma once

#include <string>
#include <vector>

#include "config/run_options.h"

struct CommandLine {
  enum class Mode {
    kUpdate,  // the normal run: no "/check" first (no arguments, or others)
    kCheck,   // the release check
    kUsage,   // a malformed "/check" line: print the usage and exit 2
  };
  Mode mode = Mode::kUpdate;
  // The manifest to check instead of the settings' one; empty when not given.
  std::string manifestUrl;
  // Where to write the report as well; empty when not given.
  std::wstring reportPath;
  // /require-signature: the check refuses a manifest without a valid
  // signature whatever the settings say.
  bool requireSignature = false;
  // For kUsage: what was wrong, for the first line of the usage text.
  std::string problem;
};

// Only a first argument "/check" selects the check; any other command line
// is kUpdate, whatever it holds. After "/check", switches match in any
// letter case and in any order, each at most once. A manifest URL must be
// http:// or https:// followed by printable ASCII without blanks (at most
// kMaxUrl characters); a report path must be non-empty, at most
// kMaxReportPath units, without control characters. After "/check", any
// other argument, a missing value or a repeated switch gives kUsage.
[[nodiscard]] CommandLine parseCommandLine(
    const std::vector<std::wstring>& arguments);

// The options of the run the command line asks for, made once: the normal
// run's defaults, or a check's (its own working folder beside the normal
// one, which stays untouched; the manifest URL given, else the settings'
// one).
[[nodiscard]] RunOptions runOptionsFor(const CommandLine& line);

// The usage text, lines ending in CR LF; starts with `problem` when given.
[[nodiscard]] std::string usageText(const std::string& problem);

constexpr std::size_t kMaxUrl = 2048;
constexpr std::size_t kMaxReportPath = 1024;
