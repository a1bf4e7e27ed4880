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
  const std::vector<std::wstring> parts = fuzz_input::utf16Fields(data, size, 3);
  const std::wstring& host = parts[0];
  const std::wstring& typed = parts[1];
  const std::wstring& secret = parts[2];

  fake::reset();
  fake::credentials().dialogAnswers.push_back({0, typed, secret});
  std::wstring user = L"stale";
  std::wstring password = L"stale";
  const auto status = ProxyCredentials::ShowCredentialDialog(host, user, password);
  check(status == 0 || status == 2);
  if (status == 0) {
    check(password == secret.substr(0, password.size()));
    // The result is the typed name, or it with a domain equal to the host
    // dropped: never longer than what was typed.
    check(user.size() <= typed.size() + 1);
  }

  // What was stored can be read back unchanged.
  if (ProxyCredentials::StoreCredentials(host, typed, secret)) {
    std::wstring loadedUser, loadedPassword;
    check(ProxyCredentials::LoadCredentials(host, loadedUser, loadedPassword));
    check(loadedUser == typed && loadedPassword == secret);
  }
  return 0;
}
