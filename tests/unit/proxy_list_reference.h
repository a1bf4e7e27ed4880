// The proxy-list scheme rules written literally with std::wregex, as a
// reference for the hand-written matcher. Only for short inputs: the regex
// engine recurses once per character.
#pragma once

#include <regex>
#include <string>

#include "common/text.h"

namespace proxy_reference {

inline std::wregex urlPattern() {
  return std::wregex(L"(http|https|ftp|socks)(://)(.*)",
                     std::regex::ECMAScript | std::regex::icase);
}

inline std::wregex entryPattern() {
  return std::wregex(L"(http|https|ftp|socks)(=|://)(.*)",
                     std::regex::ECMAScript | std::regex::icase);
}

inline void serverType(const std::wstring& url, std::wstring& type,
                       std::string& port) {
  type = L"https";
  port = "443";
  std::wsmatch match;
  if (!std::regex_match(url, match, urlPattern())) return;
  const std::wstring scheme = match[1].str();
  if (tsdlm::equalsIgnoreCaseAscii(scheme, L"http")) {
    type = L"http";
    port = "80";
  } else if (tsdlm::equalsIgnoreCaseAscii(scheme, L"ftp")) {
    type = L"ftp";
    port = "21";
  } else if (tsdlm::equalsIgnoreCaseAscii(scheme, L"socks")) {
    type = L"socks";
    port = "1080";
  }
}

inline bool extract(const std::wstring& type, std::wstring& list) {
  if (!std::regex_match(list, entryPattern())) return true;
  for (;;) {
    std::wsmatch match;
    if (!std::regex_search(list, match, entryPattern())) return false;
    const std::wstring word = match[1].str();
    list = match[3].str();
    if (tsdlm::equalsIgnoreCaseAscii(word, type)) {
      list = std::regex_replace(list, entryPattern(), L"");
      return true;
    }
  }
}

}  // namespace proxy_reference
