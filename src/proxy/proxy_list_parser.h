// Turns a proxy list in the Windows syntax ("host:port;host2", or per-scheme
// "http=host:port;https=host:port", or "https://host:port") into the ordered
// candidates for the target URL's scheme.
//
// The scheme patterns behave as the ECMAScript, case-insensitive regular
// expressions "(http|https|ftp|socks)(://)(.*)" (target URL) and
// "(http|https|ftp|socks)(=|://)(.*)" (list entries), where "." is any
// character but a line terminator (LF, CR, U+2028, U+2029). They are matched
// by hand:
// a backtracking regex engine recurses once per character of ".*" and
// overflows a thread's stack on lists a few thousand characters long.
#pragma once

#include <string>
#include <vector>

#include "proxy/proxy_candidate.h"

namespace TSRN::ProxyManager {

class ProxyListParser {
 public:
  // `targetUrl` is the request URL, already converted to UTF-16.
  explicit ProxyListParser(std::wstring targetUrl);

  // Appends the candidates of `proxyList` for the target's scheme. True when
  // the list was understood, even if no candidate came out of it; false for
  // an empty list, a per-scheme list without the target's scheme, or a list
  // reduced to nothing.
  [[nodiscard]] bool FetchServerInfo(
      const std::wstring& proxyList,
      std::vector<ProxyCandidate>& candidates) const;

  // The URL's scheme among http, https, ftp, socks (lower case) and its
  // default port ("80", "443", "21", "1080"); "https" and "443" for any other
  // or no scheme.
  static void GetServerTypeStrAndDefaultPort(const std::wstring& url,
                                             std::wstring& serverType,
                                             std::string& defaultPort);

  // Reduces a per-scheme list to the part for `serverType`, in place. A list
  // that does not begin with a scheme word and separator stays as it is.
  [[nodiscard]] static bool ExtractServerData(const std::wstring& serverType,
                                              std::wstring& proxyList);

  // Splits the list at ';' and each entry into host and port. False only for
  // an empty list; empty entries are skipped.
  [[nodiscard]] static bool ParseServerAndPortInfo(
      const std::string& defaultPort, const std::wstring& proxyList,
      std::vector<ProxyCandidate>& candidates);

  // Splits like reading delimited fields one after the other: adjacent or
  // leading separators give empty fields, a final separator adds none. False
  // (and `parts` empty) when `text` is empty or `separator` is NUL.
  [[nodiscard]] static bool SplitString(const std::wstring& text,
                                        wchar_t separator,
                                        std::vector<std::wstring>& parts);

 private:
  std::wstring targetUrl_;
};

}  // namespace TSRN::ProxyManager
