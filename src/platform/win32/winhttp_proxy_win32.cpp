// Kept apart from the WinINet code: winhttp.h and wininet.h cannot share a
// translation unit.
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/win32/owned.h"
#include "platform/winhttp_proxy.h"

namespace platform {

namespace {

struct WinHttpHandleKind {
  using Type = HINTERNET;
  static void release(HINTERNET handle) { WinHttpCloseHandle(handle); }
};
using OwnedInternet = Owned<WinHttpHandleKind>;

// Copies a WinHTTP global-memory string and releases it right away, so that
// no caller ever holds one.
std::optional<std::wstring> takeGlobalString(LPWSTR text) {
  const Owned<GlobalMemoryKind> owned(text);
  if (!owned) return std::nullopt;
  return std::wstring(text);
}

// Both lists of an answer of WinHTTP, taken.
template <typename Raw, typename Lists>
void takeLists(const Raw& raw, Lists& lists) {
  lists.proxy = takeGlobalString(raw.lpszProxy);
  lists.proxyBypass = takeGlobalString(raw.lpszProxyBypass);
}

// Keeps the failing call's code as the last error across the cleanup.
template <typename Result>
Result failWith(DWORD code, Result result) {
  SetLastError(code);
  return result;
}

}  // namespace

// On failure too, the structures' strings are taken: they may be partly
// filled then.
bool getIeProxyConfigForCurrentUser(IeProxyConfig& config) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw{};
  const BOOL got = WinHttpGetIEProxyConfigForCurrentUser(&raw);
  const DWORD code = GetLastError();
  config.autoConfigUrl = takeGlobalString(raw.lpszAutoConfigUrl);
  takeLists(raw, config);
  config.autoDetect = raw.fAutoDetect != FALSE;
  if (got) return true;
  config = IeProxyConfig{};
  return failWith(code, false);
}

bool getDefaultProxyConfiguration(DefaultProxyConfig& config) {
  WINHTTP_PROXY_INFO raw{};
  const BOOL got = WinHttpGetDefaultProxyConfiguration(&raw);
  const DWORD code = GetLastError();
  takeLists(raw, config);
  config.accessType = raw.dwAccessType;
  if (got) return true;
  config = DefaultProxyConfig{};
  return failWith(code, false);
}

namespace {

// One WinHttpGetProxyForUrl call, shared by the caller and the thread that
// makes it: whichever lets go last frees it.
struct ProxyCall {
  std::wstring url;
  AutoProxyOptions options;
  OwnedInternet session;
  HMODULE module = nullptr;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  BOOL found = FALSE;
  DWORD code = ERROR_SUCCESS;
  ProxyForUrl answer;
};

void makeProxyCall(const std::shared_ptr<ProxyCall>& call) {
  WINHTTP_AUTOPROXY_OPTIONS raw{};
  raw.dwFlags = call->options.flags;
  raw.dwAutoDetectFlags = call->options.autoDetectFlags;
  raw.lpszAutoConfigUrl = call->options.autoConfigUrl.empty()
                              ? nullptr
                              : call->options.autoConfigUrl.c_str();
  raw.fAutoLogonIfChallenged =
      call->options.autoLogonIfChallenged ? TRUE : FALSE;
  WINHTTP_PROXY_INFO info{};
  // The caller reads these only once `done` is set under the mutex.
  call->found = WinHttpGetProxyForUrl(call->session.get(), call->url.c_str(),
                                      &raw, &info);
  call->code = call->found ? ERROR_SUCCESS : GetLastError();
  takeLists(info, call->answer);
  call->session.reset();
  {
    const std::lock_guard<std::mutex> lock(call->mutex);
    call->done = true;
  }
  call->ended.notify_all();
}

DWORD WINAPI runProxyCall(void* parameter) {
  HMODULE module = nullptr;
  {
    const std::unique_ptr<std::shared_ptr<ProxyCall>> owner(
        static_cast<std::shared_ptr<ProxyCall>*>(parameter));
    module = (*owner)->module;
    makeProxyCall(*owner);
  }
  // This code stays loaded until the thread has left it, even when the
  // caller of the proxy interface has unloaded it meanwhile.
  FreeLibraryAndExitThread(module, 0);
}

}  // namespace

ProxyForUrlResult getProxyForUrl(const std::wstring& url,
                                 const AutoProxyOptions& options,
                                 ProxyForUrl& result) {
  result = ProxyForUrl{};
  OwnedInternet session(
      WinHttpOpen(L"WinHTTP/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return failWith(GetLastError(), ProxyForUrlResult::openFailed);
  // The script's name resolution, connection, request and each read: none
  // waits longer than the whole call may.
  const int limit = static_cast<int>(options.timeLimitMs);
  if (limit > 0) {
    (void)WinHttpSetTimeouts(session.get(), limit, limit, limit, limit);
  }
  auto call = std::make_shared<ProxyCall>();
  call->url = url;
  call->options = options;
  call->session = std::move(session);
  auto* owner = new std::shared_ptr<ProxyCall>(call);
  const bool pinned =
      GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(&runProxyCall),
                         &call->module) != FALSE;
  OwnedHandle thread(
      pinned ? CreateThread(nullptr, 0, &runProxyCall, owner, 0, nullptr)
             : nullptr);
  if (!thread) {
    const DWORD code = GetLastError();
    // The thread would have let the module go: without one, it goes here.
    if (pinned) FreeLibrary(call->module);
    delete owner;  // the session with it, once the call's last owner goes
    return failWith(code, ProxyForUrlResult::getProxyForUrlFailed);
  }
  thread.reset();  // nothing waits on the thread itself
  std::unique_lock<std::mutex> lock(call->mutex);
  const auto done = [&call] { return call->done; };
  if (options.timeLimitMs == 0) {
    call->ended.wait(lock, done);
  } else if (!call->ended.wait_for(
                 lock, std::chrono::milliseconds(options.timeLimitMs), done)) {
    return failWith(ERROR_WINHTTP_TIMEOUT, ProxyForUrlResult::timedOut);
  }
  if (!call->found) {
    return failWith(call->code, ProxyForUrlResult::getProxyForUrlFailed);
  }
  result = std::move(call->answer);
  return ProxyForUrlResult::ok;
}

}  // namespace platform
