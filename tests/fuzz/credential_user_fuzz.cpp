// The credential dialog's user-name rule on arbitrary names: the input holds
// the proxy host, the name typed into the dialog and the password, as
// UTF-16LE separated by NUL units.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "fuzz/fuzz_input.h"
#include "proxy/proxy_credentials.h"

using TSRN::ProxyManager::ProxyCredentials;

using fuzz_input::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::vector<std::wstring> parts =
      fuzz_input::utf16Fields(data, size, 3);
  const std::wstring& host = parts[0];
  const std::wstring& typed = parts[1];
  const std::wstring& secret = parts[2];

  fake::reset();
  fake::credentials().dialogAnswers.push_back({0, typed, secret});
  std::wstring user = L"stale";
  std::wstring password = L"stale";
  const auto status =
      ProxyCredentials::ShowCredentialDialog(host, user, password);
  check(status == 0 || status == 2);
  if (status == 0) {
    check(password == secret.substr(0, password.size()));
    // The result is the typed name, or it with a domain equal to the host
    // dropped: never longer than what was typed.
    check(user.size() <= typed.size() + 1);
  }

  // What was stored can be read back unchanged.
  const std::uint32_t scheme = size == 0 ? 0 : data[0] % 5;
  if (ProxyCredentials::StoreCredentials(host, typed, secret, scheme)) {
    std::wstring loadedUser, loadedPassword;
    std::uint32_t loadedScheme = 99;
    check(ProxyCredentials::LoadCredentials(host, loadedUser, loadedPassword,
                                            loadedScheme));
    check(loadedUser == typed && loadedPassword == secret);
    // Only the three known schemes are recorded; anything else reads as none.
    check(loadedScheme ==
          (scheme == 1 || scheme == 2 || scheme == 4 ? scheme : 0));
  }
  return 0;
}
