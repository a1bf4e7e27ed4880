// The exported proxy interface on arbitrary requests: the input holds the
// URL, the user, the password and a proxy list (as configured in the user's
// settings), separated by NUL bytes; its first byte sets the silent flag and
// which fields are null.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/text.h"
#include "fakes/fake_platform.h"
#include "fuzz/fuzz_input.h"
#include "proxy/tsrn_proxy_api.h"

using TSRN::ProxyManager::ProxyInfo;
using TSRN::ProxyManager::UserData;

using fuzz_input::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  const std::vector<std::string> parts =
      fuzz_input::byteFields(data + 1, size - 1, 4);

  fake::reset();
  std::wstring list;
  if (tsdlm::utf8ToUtf16(parts[3], list) && !list.empty()) {
    fake::winHttpProxy().ie.proxy = list;
  }
  // Every candidate lets the probe through, except when asked to demand
  // credentials (answered by the fake dialog: cancelled).
  if (flags & 0x10) fake::winHttpRequest().otherProxies.offeredSchemes = 1;

  UserData request{};
  request.url = (flags & 0x02) ? nullptr : parts[0].c_str();
  request.user = (flags & 0x04) ? nullptr : parts[1].c_str();
  request.password = (flags & 0x08) ? nullptr : parts[2].c_str();
  // Any byte a C caller may pass.
  request.silent = static_cast<unsigned char>(flags);

  ProxyInfo answer{};
  const int status =
      tsrnGetProxyInfo((flags & 0x20) ? nullptr : &request, &answer);
  check(status == 0 || status == 1 || status == 2 || status == 4 ||
        status == 5 || status == 6);
  if (status == 0) {
    check(answer.server != nullptr && answer.serverPort != nullptr);
    check(answer.user != nullptr && answer.password != nullptr);
  }
  // No proxy configured: the answer stays cleared. (A failing last
  // candidate may leave the server of an earlier one that asked for
  // credentials, whatever its own status.)
  if (status == 1) {
    check(answer.server == nullptr && answer.user == nullptr);
  }
  tsrnProxyDeallocate(&answer);
  check(answer.server == nullptr && answer.serverPort == nullptr &&
        answer.user == nullptr && answer.password == nullptr &&
        answer.authScheme == 0);
  tsrnProxyDeallocate(&answer);
  tsrnProxyDeallocate(nullptr);
  return 0;
}
