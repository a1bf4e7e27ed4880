// Proxy-list parsing on arbitrary text. The input holds the target URL and
// the proxy list as UTF-16LE, separated by a NUL unit. Besides sanitizer
// findings, it checks the candidates against the list and the scheme
// matching against the literal regular expressions on short inputs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/text.h"
#include "proxy/proxy_list_parser.h"
#include "unit/proxy_list_reference.h"

using TSRN::ProxyManager::ProxyCandidate;
using TSRN::ProxyManager::ProxyListParser;

namespace {

std::wstring units(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::wstring input = units(data, size);
  const std::size_t split = input.find(L'\0');
  const std::wstring url = split == std::wstring::npos
                               ? std::wstring(L"https://example.com")
                               : input.substr(0, split);
  const std::wstring list =
      split == std::wstring::npos ? input : input.substr(split + 1);

  std::vector<ProxyCandidate> candidates;
  const bool understood =
      ProxyListParser(url).FetchServerInfo(list, candidates);
  std::size_t separators = 0;
  for (wchar_t c : list) separators += (c == L';') ? 1 : 0;
  check(understood || candidates.empty());
  check(candidates.size() <= separators + 1);
  // Hosts and ports are pieces of the list (or the scheme's default port).
  const std::string listText = tsdlm::utf16ToUtf8(list);
  for (const ProxyCandidate& candidate : candidates) {
    check(listText.find(candidate.server) != std::string::npos);
    check(listText.find(candidate.serverPort) != std::string::npos ||
          candidate.serverPort == "80" || candidate.serverPort == "443" ||
          candidate.serverPort == "21" || candidate.serverPort == "1080");
  }

  if (list.size() <= 256 && url.size() <= 256) {
    for (const wchar_t* type : {L"http", L"https", L"ftp", L"socks"}) {
      std::wstring mine = list;
      std::wstring theirs = list;
      const bool mineOk = ProxyListParser::ExtractServerData(type, mine);
      const bool theirsOk = proxy_reference::extract(type, theirs);
      check(mineOk == theirsOk);
      check(!mineOk || mine == theirs);
    }
    std::wstring mineType, theirType;
    std::string minePort, theirPort;
    ProxyListParser::GetServerTypeStrAndDefaultPort(url, mineType, minePort);
    proxy_reference::serverType(url, theirType, theirPort);
    check(mineType == theirType && minePort == theirPort);
  }
  return 0;
}
