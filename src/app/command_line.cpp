#include "app/command_line.h"

#include <string>

#include "common/text.h"
#include "config/settings.h"

namespace {

bool isSwitch(const std::wstring& argument, const wchar_t* name) {
  return tsdlm::equalsIgnoreCaseAscii(argument, name);
}

bool startsWithIgnoreCase(const std::wstring& text, const std::wstring& head) {
  return text.size() >= head.size() &&
         tsdlm::equalsIgnoreCaseAscii(text.substr(0, head.size()), head);
}

// Printable ASCII without blanks, after an http or https scheme and at least
// one character of host. Anything else (a Unicode look-alike, a line break,
// an embedded NUL) is refused rather than narrowed into something else.
bool isUsableUrl(const std::wstring& url) {
  if (url.empty() || url.size() > kMaxUrl) return false;
  for (const wchar_t c : url) {
    if (c <= 0x20 || c >= 0x7F) return false;
  }
  for (const wchar_t* scheme : {L"http://", L"https://"}) {
    const std::wstring head = scheme;
    if (startsWithIgnoreCase(url, head) && url.size() > head.size())
      return true;
  }
  return false;
}

bool isUsablePath(const std::wstring& path) {
  if (path.empty() || path.size() > kMaxReportPath) return false;
  for (const wchar_t c : path) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

CommandLine usage(const std::string& problem) {
  CommandLine line;
  line.mode = CommandLine::Mode::kUsage;
  line.problem = problem;
  return line;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::wstring>& arguments) {
  CommandLine line;
  // Only "/check" in the first place selects the check. Any other command
  // line runs the update as if there were none: a launcher that passes
  // arguments of its own (today's download manager or a later one) must not
  // stop every update.
  if (arguments.empty() || !isSwitch(arguments[0], L"/check")) return line;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (isSwitch(argument, L"/check")) {
      return usage("/check is given twice");
    } else if (isSwitch(argument, L"/manifest")) {
      if (!line.manifestUrl.empty()) return usage("/manifest is given twice");
      if (!hasValue || !isUsableUrl(arguments[i + 1])) {
        return usage("/manifest needs an http:// or https:// URL");
      }
      line.manifestUrl = tsdlm::narrowLow8(arguments[++i]);
    } else if (isSwitch(argument, L"/report")) {
      if (!line.reportPath.empty()) return usage("/report is given twice");
      if (!hasValue || !isUsablePath(arguments[i + 1])) {
        return usage("/report needs a file name (at most " +
                     std::to_string(kMaxReportPath) + " characters)");
      }
      line.reportPath = arguments[++i];
    } else if (isSwitch(argument, L"/require-signature")) {
      if (line.requireSignature)
        return usage("/require-signature is given twice");
      line.requireSignature = true;
    } else {
      return usage("unknown argument");
    }
  }
  line.mode = CommandLine::Mode::kCheck;
  return line;
}

std::string usageText(const std::string& problem) {
  std::string text;
  if (!problem.empty()) text += "TsDLMUpdater: " + problem + ".\r\n";
  text +=
      "Usage: TsDLMUpdater.exe                 check for an update and install "
      "it\r\n"
      "       TsDLMUpdater.exe /check [/manifest URL] [/report FILE]\r\n"
      "                               [/require-signature]\r\n"
      "  /check     a dry run of the update path: never quits the download "
      "manager,\r\n"
      "             never starts the installer; prints a report\r\n"
      "  /manifest  check this manifest instead of the one the settings "
      "name\r\n"
      "  /report    write the report to FILE as well\r\n"
      "  /require-signature  refuse a manifest without a valid signature\r\n"
      "Exit code of /check: 0 would install (or up to date), 1 would be "
      "refused,\r\n"
      "2 could not check (network, proxy, settings) or a bad command line.\r\n";
  return text;
}

RunOptions runOptionsFor(const CommandLine& line) {
  RunOptions options;
  options.requireSignedManifest = Settings::requireSignedManifest();
  if (line.mode != CommandLine::Mode::kCheck) return options;
  options.requireSignedManifest =
      options.requireSignedManifest || line.requireSignature;
  options.mode = RunOptions::Mode::kCheck;
  options.workingFolder = L"TsDLM-check";
  options.manifestUrl =
      line.manifestUrl.empty() ? Settings::getUpdateUrl() : line.manifestUrl;
  return options;
}
