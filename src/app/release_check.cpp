#include "app/release_check.h"

#include <utility>

#include "common/text.h"
#include "config/util.h"
#include "manifest/manifest.h"

namespace {

constexpr const char* kErrorMark = "[ERROR] ";
constexpr const char* kIndent = "    ";
constexpr const char* kFailed = "FAILED";
constexpr const char* kRefusedMark = "REFUSED";
constexpr const char* kSha256Step = "Installer SHA-256";

std::string withoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

// A report line as it may reach a terminal: the manifest's texts and the
// server's answers end up in it, and a line break or an escape sequence
// there could forge a line (a verdict) or drive the terminal. Control
// characters, C0 and C1, become "?".
std::string printable(std::string line) {
  for (char& c : line) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0)) c = '?';
  }
  return line;
}

bool startsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

// libcurl codes of an installer download that a release got wrong, not the
// network: 1 unsupported protocol, 3 malformed URL, 22 an HTTP error status,
// 47 too many redirects.
bool isReleaseFault(const std::string& entry) {
  for (const char* code : {"1 (", "3 (", "22 (", "47 ("}) {
    if (startsWith(entry, std::string("curl_easy_perform() failed: ") + code)) {
      return true;
    }
  }
  return false;
}

}  // namespace

ReleaseCheck::ReleaseCheck(UpdateSteps& real, CheckFacts facts)
    : real_(real), facts_(std::move(facts)) {}

std::string ReleaseCheck::withoutPassword(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const std::size_t authority = scheme + 3;
  const std::size_t end = url.find_first_of("/?#", authority);
  const std::size_t at =
      url.rfind('@', end == std::string::npos ? url.size() - 1 : end - 1);
  if (at == std::string::npos || at < authority) return url;
  const std::size_t colon = url.find(':', authority);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon + 1) + "****" + url.substr(at);
}

void ReleaseCheck::logEntry(const std::string& message) {
  pending_.push_back(withoutLineEnd(message));
}

void ReleaseCheck::logInfo(const std::string& message) { logEntry(message); }

void ReleaseCheck::logError(const std::string& message) {
  logEntry(kErrorMark + message);
}

std::string ReleaseCheck::lastError() const {
  const std::string mark = kErrorMark;
  for (auto entry = pending_.rbegin(); entry != pending_.rend(); ++entry) {
    if (startsWith(*entry, mark)) return entry->substr(mark.size());
  }
  return pending_.empty() ? std::string(
                                "no reason logged (offline, or a file that "
                                "cannot be written)")
                          : pending_.back();
}

void ReleaseCheck::step(const std::string& what, const std::string& result,
                        const std::string& reason) {
  lines_.push_back(printable(what + " - " + result +
                             (reason.empty() ? "" : " - " + reason)));
  flush();
}

void ReleaseCheck::flush() {
  for (const std::string& entry : pending_) {
    lines_.push_back(kIndent + printable(entry));
  }
  pending_.clear();
}

void ReleaseCheck::curlGlobalInit() {
  real_.curlGlobalInit();
  std::string result = facts_.settingsFound ? "found" : "not found, defaults";
  result += facts_.checksSwitchedOn
                ? "; update checks on"
                : "; update checks SWITCHED OFF (a normal run stops here; the "
                  "check goes on)";
  step("Settings " + tsdlm::narrowLow8(facts_.settingsPath), result);
  const std::string url = withoutPassword(facts_.manifestUrl);
  step("Manifest URL " + url,
       facts_.manifestGiven ? "given with /manifest" : "from the settings");
}

void ReleaseCheck::curlGlobalCleanup() { real_.curlGlobalCleanup(); }

std::string ReleaseCheck::getInstalledVersion() {
  flush();
  installed_ = real_.getInstalledVersion();
  const std::string what =
      "Installed version of " + tsdlm::narrowLow8(facts_.installedPath);
  if (installed_.empty()) {
    step(what,
         "none: no download manager installed here; the version "
         "comparison is skipped");
    // The flow goes on as if an older version were installed.
    return "(none)";
  }
  step(what, installed_);
  return installed_;
}

bool ReleaseCheck::getUpdateXml() {
  flush();
  const bool fetched = real_.getUpdateXml();
  const std::string what = "Manifest download";
  if (fetched) {
    step(what, "ok");
  } else {
    failure_ = "the manifest could not be downloaded: " + lastError();
    step(what, kFailed, lastError());
  }
  return fetched;
}

std::string ReleaseCheck::getServerVersion() {
  flush();
  const std::string offered = real_.getServerVersion();
  if (!offeredRead_) {
    offeredRead_ = true;
    offered_ = offered;
    const std::string url = facts_.installerUrl ? facts_.installerUrl() : "";
    step("Manifest reading",
         "offers version " + (offered.empty() ? "(none)" : offered) +
             ", installer " + (url.empty() ? "(none)" : withoutPassword(url)));
  }
  return offered;
}

bool ReleaseCheck::isVersionHigher(const std::string& candidate,
                                   const std::string& reference) {
  flush();
  const std::string what = "Version comparison";
  if (installed_.empty()) {
    step(what, "skipped (nothing installed)");
    return true;
  }
  const bool higher = real_.isVersionHigher(candidate, reference);
  step(what, higher ? "the offered version is newer: a normal run updates"
                    : "the offered version is not newer: a normal run stops "
                      "here");
  return higher;
}

std::uint32_t ReleaseCheck::findDownloadManager() {
  flush();
  const std::uint32_t running = real_.findDownloadManager();
  step("Download manager", running == 0
                               ? "not running"
                               : "running (process " + std::to_string(running) +
                                     "); a check never asks it to quit");
  // Not found, as far as the flow knows: it never asks for the quit.
  return 0;
}

bool ReleaseCheck::quitDownloadManager(std::uint32_t) { return true; }

bool ReleaseCheck::getInstaller(ProgressCallback) {
  flush();
  ++attempt_;
  const bool fetched = real_.getInstaller(ProgressCallback());
  const std::string what =
      "Installer download (attempt " + std::to_string(attempt_) + ")";
  if (fetched) {
    step(what, "ok");
    return true;
  }
  const std::string reason = lastError();
  if (isReleaseFault(reason)) {
    refusal_ = "the installer could not be downloaded: " + reason;
  } else {
    failure_ = "the installer could not be downloaded: " + reason;
  }
  step(what, kFailed, reason);
  return false;
}

std::wstring ReleaseCheck::getInstallerPath() {
  return real_.getInstallerPath();
}

std::wstring ReleaseCheck::stageInstaller(const std::wstring& downloadedPath) {
  flush();
  const std::wstring staged = real_.stageInstaller(downloadedPath);
  if (staged.empty()) {
    failure_ = "the installer could not be copied into a folder of its own";
    step("Installer copy", kFailed, failure_);
  } else {
    step("Installer copy", "held at " + tsdlm::narrowLow8(staged));
  }
  return staged;
}

std::int32_t ReleaseCheck::verifySignature(const std::wstring& path) {
  flush();
  const std::int32_t status = real_.verifySignature(path);
  if (status == 0) {
    step("Signature", "valid");
  } else {
    refusal_ = lastError();
    step("Signature", kRefusedMark, refusal_);
  }
  return status;
}

bool ReleaseCheck::verifyPublisher(const std::wstring& path,
                                   const std::wstring& subject) {
  flush();
  const bool ours = real_.verifyPublisher(path, subject);
  const std::string what = "Publisher " + tsdlm::narrowLow8(subject);
  if (ours) {
    step(what, "the signer's certificate names it");
  } else {
    refusal_ = lastError();
    step(what, kRefusedMark, refusal_);
  }
  return ours;
}

std::string ReleaseCheck::getStagedInstallerVersion() {
  flush();
  const std::string own = real_.getStagedInstallerVersion();
  const std::string what =
      "Installer's own version " + (own.empty() ? "(none)" : own);
  if (Util::isSameVersion(own, offered_)) {
    step(what, "the offered version");
  } else {
    refusal_ = "the installer's version " + (own.empty() ? "(none)" : own) +
               " is not the offered version " + offered_;
    step(what, kRefusedMark, refusal_);
  }
  return own;
}

std::optional<std::string> ReleaseCheck::getInstallerPin() {
  flush();
  pin_ = real_.getInstallerPin();
  if (!pin_) step(kSha256Step, "not pinned by the manifest");
  return pin_;
}

std::string ReleaseCheck::getStagedInstallerSha256() {
  flush();
  const std::string actual = real_.getStagedInstallerSha256();
  if (Manifest::matchesSha256(pin_.value_or(""), actual)) {
    step(kSha256Step, "matches the manifest");
  } else if (actual.empty()) {
    failure_ = "the installer's SHA-256 could not be computed";
    step(kSha256Step, kFailed, failure_);
  } else {
    refusal_ = "the installer's SHA-256 " + actual +
               " is not the one the manifest names (" + pin_.value_or("") + ")";
    step(kSha256Step, kRefusedMark, refusal_);
  }
  return actual;
}

bool ReleaseCheck::launchInstaller(const std::wstring& path) {
  flush();
  launched_ = true;
  step("Installer start", "skipped: a normal run starts " +
                              tsdlm::narrowLow8(path) + " -quiet here");
  return true;
}

void ReleaseCheck::removeStagedInstaller() { real_.removeStagedInstaller(); }

void ReleaseCheck::track(const wchar_t*, const wchar_t*, const wchar_t* value) {
  // No analytics: the ending is only noted for the verdict.
  if (ending_.empty() && value != nullptr) ending_ = value;
}

void ReleaseCheck::decide() {
  if (decided_) return;
  decided_ = true;
  const std::string offered = offered_.empty() ? "(none)" : offered_;
  std::string verdict;
  if (ending_ == L"installed version is up-to-date") {
    if (Util::splitVersion(offered_).size() != 4) {
      exitCode_ = kRefused;
      verdict =
          "the offered release would be refused: the manifest offers no "
          "usable version (" +
          offered + ")";
    } else {
      exitCode_ = kWouldInstall;
      verdict = "up to date: the installed version " + installed_ +
                " is not older than the offered " + offered;
    }
  } else if (ending_.empty() && launched_) {
    exitCode_ = kWouldInstall;
    verdict = "the offered release " + offered + " would install";
    if (installed_.empty()) verdict += " (nothing installed here to compare)";
  } else if (ending_ == L"download installer failed" && !refusal_.empty() &&
             failure_.empty()) {
    exitCode_ = kRefused;
    verdict =
        "the offered release " + offered + " would be refused: " + refusal_;
  } else {
    exitCode_ = kCannotCheck;
    if (failure_.empty()) failure_ = lastError();
    verdict = "cannot check: " + failure_;
  }
  flush();
  lines_.push_back(printable("Verdict: " + verdict));
}

std::string ReleaseCheck::report() {
  decide();
  std::string text;
  for (const std::string& line : lines_) text += line + "\r\n";
  return text;
}

int ReleaseCheck::exitCode() {
  decide();
  return exitCode_;
}
