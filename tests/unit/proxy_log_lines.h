// The proxy manager's log as the debug-output fake caught it, for test
// programs that run with TSRN_ENABLE_DEBUG_STRING=TRUE.
#pragma once

#include <string>
#include <vector>

#include "common/text.h"
#include "fakes/fake_platform.h"

namespace testing_support {

// Every line caught so far, narrow and wide ones (as UTF-8), without the
// line prefix and level tag: "[DEBUG]   Received HTTP status:200".
inline std::vector<std::string> proxyLogLines() {
  const std::string prefix = "Tessarin   TsrnProxyManager   ";
  std::vector<std::string> lines;
  auto add = [&](std::string line) {
    if (line.compare(0, prefix.size(), prefix) == 0)
      line.erase(0, prefix.size());
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  };
  for (const auto& line : fake::debugOutput().narrowLines) add(line);
  for (const auto& line : fake::debugOutput().wideLines) {
    add(tsdlm::utf16ToUtf8(line));
  }
  return lines;
}

inline bool proxyLogHas(const std::string& line) {
  for (const auto& caught : proxyLogLines()) {
    if (caught == line) return true;
  }
  return false;
}

inline bool proxyLogMentions(const std::string& text) {
  for (const auto& caught : proxyLogLines()) {
    if (caught.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace testing_support
