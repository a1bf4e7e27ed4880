#include "proxy/proxy_list_parser.h"

#include <cstddef>
#include <utility>

#include "common/text.h"
#include "proxy/proxy_log.h"

namespace TSRN::ProxyManager {

namespace {

struct SchemeRow {
  const wchar_t* type;
  const char* defaultPort;
};
// In the order the pattern's alternatives are tried; "https" is also the row
// for anything else.
constexpr SchemeRow kSchemes[] = {
    {L"http", "80"}, {L"https", "443"}, {L"ftp", "21"}, {L"socks", "1080"}};
constexpr const SchemeRow& kDefaultScheme = kSchemes[1];

// ECMAScript's line terminators, which "." does not match.
bool IsLineTerminator(wchar_t c) {
  return c == L'\n' || c == L'\r' || c == 0x2028 || c == 0x2029;
}

// One occurrence of "(word)(separator)(.*)".
struct EntryMatch {
  std::size_t position = 0;
  std::wstring word;          // group 1 as written
  std::size_t restBegin = 0;  // where group 3 begins
};

// Where ".*" starting at `from` stops.
std::size_t LineEnd(const std::wstring& text, std::size_t from) {
  while (from < text.size() && !IsLineTerminator(text[from])) ++from;
  return from;
}

// Tries the pattern at `at`. "=" is a separator only when `equalsSeparates`.
bool MatchEntryAt(const std::wstring& text, std::size_t at,
                  bool equalsSeparates, EntryMatch& match) {
  for (const SchemeRow& row : kSchemes) {
    const std::size_t afterWord =
        at + std::char_traits<wchar_t>::length(row.type);
    if (!tsdlm::equalsIgnoreCaseAscii(text.substr(at, afterWord - at),
                                      row.type)) {
      continue;
    }
    std::size_t separator = 0;
    if (equalsSeparates && afterWord < text.size() && text[afterWord] == L'=') {
      separator = 1;
    } else if (text.compare(afterWord, 3, L"://") == 0) {
      separator = 3;
    } else {
      continue;
    }
    match.position = at;
    match.word = text.substr(at, afterWord - at);
    match.restBegin = afterWord + separator;
    return true;
  }
  return false;
}

// The pattern matching the whole text (".*" must reach the end).
bool MatchWhole(const std::wstring& text, bool equalsSeparates,
                EntryMatch& match) {
  return MatchEntryAt(text, 0, equalsSeparates, match) &&
         LineEnd(text, match.restBegin) == text.size();
}

// The leftmost occurrence starting in [from, to).
bool SearchEntry(const std::wstring& text, std::size_t from, std::size_t to,
                 EntryMatch& match) {
  for (std::size_t at = from; at < to; ++at) {
    if (MatchEntryAt(text, at, true, match)) return true;
  }
  return false;
}

// Every occurrence replaced by nothing.
std::wstring RemoveEntries(const std::wstring& text) {
  std::wstring result;
  std::size_t copied = 0;
  EntryMatch match;
  while (SearchEntry(text, copied, text.size(), match)) {
    result.append(text, copied, match.position - copied);
    copied = LineEnd(text, match.restBegin);
  }
  result.append(text, copied, std::wstring::npos);
  return result;
}

}  // namespace

ProxyListParser::ProxyListParser(std::wstring targetUrl)
    : targetUrl_(std::move(targetUrl)) {}

bool ProxyListParser::FetchServerInfo(
    const std::wstring& proxyList,
    std::vector<ProxyCandidate>& candidates) const {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'FetchServerInfo' ...");
  if (proxyList.empty()) {
    LogMessage(LOG_LEVEL_ERROR, "Proxy server info is empty!");
    return false;
  }
  std::wstring serverType;
  std::string defaultPort;
  GetServerTypeStrAndDefaultPort(targetUrl_, serverType, defaultPort);
  std::wstring reduced = proxyList;
  if (!ExtractServerData(serverType, reduced)) return false;
  return ParseServerAndPortInfo(defaultPort, reduced, candidates);
}

void ProxyListParser::GetServerTypeStrAndDefaultPort(const std::wstring& url,
                                                     std::wstring& serverType,
                                                     std::string& defaultPort) {
  LogMessage(LOG_LEVEL_DEBUG,
             "Performing 'GetServerTypeStrAndDefaultPort' ...");
  serverType = kDefaultScheme.type;
  defaultPort = kDefaultScheme.defaultPort;
  EntryMatch match;
  if (!MatchWhole(url, false, match)) return;
  for (const SchemeRow& row : kSchemes) {
    if (tsdlm::equalsIgnoreCaseAscii(match.word, row.type)) {
      serverType = row.type;
      defaultPort = row.defaultPort;
      return;
    }
  }
}

bool ProxyListParser::ExtractServerData(const std::wstring& serverType,
                                        std::wstring& proxyList) {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'ExtractServerData' ...");
  LogMessage(LOG_LEVEL_DEBUG, L"Proxy server information is: %ls",
             proxyList.c_str());
  EntryMatch match;
  if (!MatchWhole(proxyList, true, match)) return true;  // no scheme prefixes
  // The list being reduced is the window [begin, end) of the original; each
  // round replaces it by the rest of the entry found.
  std::size_t begin = 0;
  std::size_t end = proxyList.size();
  for (;;) {
    if (!SearchEntry(proxyList, begin, end, match)) {
      if (begin == end) {
        LogMessage(LOG_LEVEL_ERROR,
                   "Failed to detect correct proxy server info of format like "
                   "'https://' or 'https='");
      }
      proxyList = proxyList.substr(begin, end - begin);
      return false;
    }
    // The whole list matched, so it holds no line end: group 3 runs to the
    // end of the window.
    begin = match.restBegin;
    if (tsdlm::equalsIgnoreCaseAscii(match.word, serverType)) {
      // The entry ran to the end of the line, so this cuts the list at the
      // next scheme word that is followed by a separator.
      proxyList = RemoveEntries(proxyList.substr(begin, end - begin));
      return true;
    }
  }
}

bool ProxyListParser::ParseServerAndPortInfo(
    const std::string& defaultPort, const std::wstring& proxyList,
    std::vector<ProxyCandidate>& candidates) {
  LogMessage(LOG_LEVEL_DEBUG, "Performing 'ParseServerAndPortInfo' ...");
  std::vector<std::wstring> entries;
  if (!SplitString(proxyList, L';', entries)) {
    LogMessage(LOG_LEVEL_ERROR,
               L"Failed while splitting proxy server collection: '%ls' into "
               L"vector of proxy server",
               proxyList.c_str());
    return false;
  }
  for (const std::wstring& entry : entries) {
    std::vector<std::wstring> parts;
    if (!SplitString(entry, L':', parts)) {
      LogMessage(LOG_LEVEL_DEBUG,
                 L"Failed while splitting proxy: '%ls' into proxy server and "
                 L"port",
                 entry.c_str());
      continue;
    }
    std::wstring server = entry;
    std::string port = defaultPort;
    if (parts.size() == 2) {
      server = parts[0];
      port = tsdlm::utf16ToUtf8(parts[1]);
    } else if (parts.size() >= 3) {
      // More than one ':' is an IPv6 form: only "[address]:port" has a port.
      const std::size_t lastBracket = entry.rfind(L']');
      const std::size_t lastColon = entry.rfind(L':');
      if (lastBracket != std::wstring::npos && lastBracket < lastColon) {
        server = entry.substr(0, lastColon);
        port = tsdlm::utf16ToUtf8(parts.back());
      }
    }
    candidates.push_back({tsdlm::utf16ToUtf8(server), port});
  }
  return true;
}

bool ProxyListParser::SplitString(const std::wstring& text, wchar_t separator,
                                  std::vector<std::wstring>& parts) {
  parts.clear();
  if (text.empty() || separator == L'\0') return false;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(separator, start);
    if (end == std::wstring::npos) {
      parts.push_back(text.substr(start));
      break;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

}  // namespace TSRN::ProxyManager
