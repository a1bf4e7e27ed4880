#include "fakes/fake_platform.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "common/text.h"
#include "platform/analytics.h"
#include "platform/clock.h"
#include "platform/connection.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/trust.h"
#include "platform/shell.h"
#include "platform/profile.h"
#include "platform/version_info.h"
#include "platform/winhttp_proxy.h"
#include "platform/debug_output.h"
#include "platform/credentials.h"
#include "platform/winhttp_request.h"

namespace fake {

namespace {

// The one record of each kind, made on first use.
template <typename State>
State& instance() {
  static State state;
  return state;
}

}  // namespace

FilesState& files() { return instance<FilesState>(); }
ClockState& clock() { return instance<ClockState>(); }
ProcessesState& processes() { return instance<ProcessesState>(); }
ProfileState& profile() { return instance<ProfileState>(); }
VersionInfoState& versionInfo() { return instance<VersionInfoState>(); }
WinHttpProxyState& winHttpProxy() { return instance<WinHttpProxyState>(); }
DebugOutputState& debugOutput() { return instance<DebugOutputState>(); }
WinHttpRequestState& winHttpRequest() {
  return instance<WinHttpRequestState>();
}
CredentialsState& credentials() { return instance<CredentialsState>(); }
CertificatesState& certificates() { return instance<CertificatesState>(); }
DetachedSignatureState& detachedSignature() {
  return instance<DetachedSignatureState>();
}
TrustState& trust() { return instance<TrustState>(); }
std::vector<AnalyticsCall>& analyticsCalls() {
  return instance<std::vector<AnalyticsCall>>();
}
ConnectionState& connection() { return instance<ConnectionState>(); }
ShellState& shell() { return instance<ShellState>(); }

// Starts with the process's own TSRN_ENABLE_DEBUG_STRING: the proxy
// manager's log switch is read from here while the test program loads, so a
// test program run with the variable set has the log on.
EnvironmentState& environment() {
  static EnvironmentState state = [] {
    EnvironmentState initial;
    const char* logSwitch = std::getenv("TSRN_ENABLE_DEBUG_STRING");
    if (logSwitch != nullptr) {
      initial.variables["TSRN_ENABLE_DEBUG_STRING"] =
          tsdlm::widenBytes(logSwitch);
    }
    return initial;
  }();
  return state;
}

platform::CertificateChain trustedChain() {
  platform::CertificateChain chain;
  chain.built = true;
  platform::ChainElement end;
  end.signatureValid = true;
  platform::ChainElement authority = end;
  authority.isCa = true;
  chain.elements = {end, authority, authority};
  chain.rootSelfIssued = true;
  chain.rootInStore = true;
  chain.usageAllowed = true;
  return chain;
}

void reset() {
  files() = FilesState{};
  clock() = ClockState{};
  environment() = EnvironmentState{};
  processes() = ProcessesState{};
  analyticsCalls().clear();
  connection() = ConnectionState{};
  shell() = ShellState{};
  profile() = ProfileState{};
  versionInfo() = VersionInfoState{};
  winHttpProxy() = WinHttpProxyState{};
  debugOutput() = DebugOutputState{};
  winHttpRequest() = WinHttpRequestState{};
  credentials() = CredentialsState{};
  trust() = TrustState{};
  certificates() = CertificatesState{};
  detachedSignature() = DetachedSignatureState{};
  detachedSignature().answer.verified = true;
  detachedSignature().answer.signer.known = true;
  detachedSignature().answer.signer.organisations = {L"Tessarin, Inc"};
  detachedSignature().answer.signer.certificatesWithSignerId = 1;
  detachedSignature().answer.signerChain = trustedChain();
  certificates().server.chain = trustedChain();
  certificates().server.names.hasAltNames = true;
  certificates().server.names.dnsNames = {"update.example"};
}

std::string localPath(const std::wstring& path) {
  std::string local = tsdlm::utf16ToUtf8(path);
#if !defined(_WIN32)
  for (char& c : local) {
    if (c == '\\') c = '/';
  }
#endif
  return local;
}

}  // namespace fake

namespace platform {

struct HeldFile {
  std::wstring path;
  std::FILE* stream;  // null for fake::holdAny
};

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool inUse(const std::wstring& path) {
  return fake::files().held.count(path) != 0;
}

HeldFileHandle held(const std::wstring& path, std::FILE* stream) {
  ++fake::files().held[path];
  return HeldFileHandle(new HeldFile{path, stream});
}

const fake::FakeWindow* findWindow(WindowHandle handle) {
  for (const auto& window : fake::processes().windows) {
    if (window.handle == handle) return &window;
  }
  return nullptr;
}

FileVersionInfo versionOf(const std::wstring& path, bool localised) {
  fake::VersionInfoState& state = fake::versionInfo();
  state.calls.push_back({path, localised});
  const auto found = state.files.find(path);
  return found != state.files.end() ? found->second : FileVersionInfo{};
}

// A WinHTTP settings read: counted, and the configured answer or a failure
// with its error.
template <typename Config>
bool readSettings(int& calls, bool failed, std::uint32_t error,
                  const Config& answer, Config& config) {
  ++calls;
  config = failed ? Config{} : answer;
  if (failed) fake::debugOutput().lastError = error;
  return !failed;
}

// True (the call fails, its error as the last error) when a test named it.
bool fails(const char* call) {
  const auto& failures = fake::winHttpRequest().failures;
  const auto found = failures.find(call);
  if (found == failures.end()) return false;
  fake::debugOutput().lastError = found->second;
  return true;
}

bool failWith(std::uint32_t code) {
  fake::debugOutput().lastError = code;
  return false;
}

const fake::FakeHttpProxy& proxyAt(const std::wstring& address) {
  const auto& state = fake::winHttpRequest();
  const auto found = state.proxies.find(address);
  return found != state.proxies.end() ? found->second : state.otherProxies;
}

}  // namespace

ShellRunResult shellRunAndWait(const std::wstring& file,
                               const std::wstring& parameters,
                               const std::wstring& directory,
                               const std::function<void()>& started) {
  fake::ShellState& state = fake::shell();
  state.launches.push_back({file, parameters, directory});
  ShellRunResult result;
  if (state.startFails) return result;
  result.started = true;
  if (started) started();
  result.exitCodeKnown = !state.exitCodeUnknown;
  result.exitCode = state.exitCodeUnknown ? 0 : state.exitCode;
  return result;
}

bool internetConnectionAvailable() {
  ++fake::connection().checks;
  return fake::connection().connected;
}

std::wstring tempPath() { return fake::files().tempPath; }

std::wstring publicDocumentsPath() { return fake::files().publicDocuments; }

std::wstring pathAppend(const std::wstring& base, const std::wstring& more) {
  std::wstring result = base;
  std::size_t start = 0;
  while (start < more.size() && isSeparator(more[start])) ++start;
  if (!result.empty() && !isSeparator(result.back())) result.push_back(L'\\');
  result.append(more, start, std::wstring::npos);
  return result;
}

std::wstring pathRemoveFileSpec(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"\\/");
  return last == std::wstring::npos ? std::wstring() : path.substr(0, last);
}

bool fileExists(const std::wstring& path) {
  if (fake::files().existing.count(path) != 0) return true;
  struct stat info {};
  return ::stat(fake::localPath(path).c_str(), &info) == 0;
}

bool createDirectory(const std::wstring& path) {
  ++fake::files().createDirectoryCalls;
#if defined(_WIN32)
  return ::_mkdir(fake::localPath(path).c_str()) == 0;
#else
  return ::mkdir(fake::localPath(path).c_str(), 0755) == 0;
#endif
}

bool deleteFile(const std::wstring& path) {
  return !inUse(path) && std::remove(fake::localPath(path).c_str()) == 0;
}

bool copyNewFile(const std::wstring& from, const std::wstring& to) {
  std::error_code error;
  return std::filesystem::copy_file(fake::localPath(from), fake::localPath(to),
                                    std::filesystem::copy_options::none, error);
}

bool removeDirectory(const std::wstring& path) {
  std::error_code error;
  const std::filesystem::path folder(fake::localPath(path));
  return !inUse(path) && std::filesystem::is_directory(folder, error) &&
         std::filesystem::remove(folder, error);
}

std::vector<std::wstring> folderEntries(const std::wstring& path) {
  std::vector<std::wstring> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(fake::localPath(path), error),
       end;
       !error && it != end; it.increment(error)) {
    names.push_back(tsdlm::widenBytes(it->path().filename().string()));
  }
  return names;
}

std::wstring randomHex(std::size_t bytes) {
  fake::FilesState& state = fake::files();
  const std::size_t call = static_cast<std::size_t>(state.randomCalls++);
  if (call < state.random.size()) return state.random[call];
  char text[32];
  std::snprintf(text, sizeof text, "%0*zx", static_cast<int>(2 * bytes), call);
  return tsdlm::widenBytes(std::string(text).substr(0, 2 * bytes));
}

void HeldFileCloser::operator()(HeldFile* file) const {
  if (file == nullptr) return;
  if (file->stream != nullptr) std::fclose(file->stream);
  if (--fake::files().held[file->path] == 0)
    fake::files().held.erase(file->path);
  delete file;
}

HeldFileHandle holdFile(const std::wstring& path) {
  std::FILE* stream = std::fopen(fake::localPath(path).c_str(), "rb");
  return stream != nullptr ? held(path, stream) : HeldFileHandle();
}

HeldFileHandle holdFolder(const std::wstring& path) {
  std::error_code error;
  return std::filesystem::is_directory(fake::localPath(path), error)
             ? held(path, nullptr)
             : HeldFileHandle();
}

HeldFileHandle openFileToWrite(const std::wstring& path, bool& created) {
  std::error_code error;
  created = !std::filesystem::exists(fake::localPath(path), error);
  std::FILE* stream = std::fopen(fake::localPath(path).c_str(), "ab");
  return stream != nullptr ? held(path, stream) : HeldFileHandle();
}

bool deleteHeldFile(HeldFile& file) {
  std::error_code error;
  return std::filesystem::remove(fake::localPath(file.path), error);
}

std::FILE* truncatedStream(HeldFileHandle file) {
  return std::fopen(fake::localPath(file->path).c_str(), "wb");
}

bool heldFileInfo(HeldFile& file, HeldFileInfo& info) {
  const fake::FilesState& state = fake::files();
  std::error_code error;
  info.directory =
      std::filesystem::is_directory(fake::localPath(file.path), error);
  info.reparsePoint = state.reparsePoints.count(file.path) != 0;
  const auto links = state.links.find(file.path);
  info.links = links != state.links.end() ? links->second : 1;
  info.size = info.directory ? 0
                             : std::filesystem::file_size(
                                   fake::localPath(file.path), error);
  return true;
}

std::wstring heldFinalPath(HeldFile& file) {
  const auto& paths = fake::files().finalPaths;
  const auto found = paths.find(file.path);
  return found != paths.end() ? found->second : file.path;
}

bool protectHeldFolder(HeldFile& folder) {
  if (fake::files().protectFails) return false;
  fake::files().protectedFolders.push_back(folder.path);
  return true;
}

bool deleteFromHeldFolder(HeldFile& folder, const std::wstring& name) {
  const std::wstring path = pathAppend(folder.path, name);
  std::error_code error;
  return !inUse(path) &&
         std::filesystem::is_regular_file(fake::localPath(path), error) &&
         std::filesystem::remove(fake::localPath(path), error);
}

HeldFileHandle holdFolderToProtect(const std::wstring& path) {
  return holdFolder(path);
}

std::size_t readHeldFile(HeldFile& file, std::uint64_t offset, void* buffer,
                         std::size_t size) {
  if (file.stream == nullptr || offset > static_cast<std::uint64_t>(LONG_MAX) ||
      std::fseek(file.stream, static_cast<long>(offset), SEEK_SET) != 0) {
    return 0;
  }
  return std::fread(buffer, 1, size, file.stream);
}

// No digest: the update flow's tests script the pin check through its
// steps, and the digest itself is BCrypt's, tested under Wine end to end.
std::string heldFileSha256(HeldFile&) { return std::string(); }

std::FILE* openFile(const std::wstring& path, const wchar_t* mode) {
  fake::files().opened.emplace_back(path, mode);
#if defined(_WIN32)
  return ::_wfopen(path.c_str(), mode);
#else
  return std::fopen(fake::localPath(path).c_str(),
                    tsdlm::narrowLow8(mode).c_str());
#endif
}

bool localNow(std::tm& out) {
  const fake::ClockState& state = fake::clock();
  if (state.fails) {
    std::memset(&out, 0, sizeof out);
    return false;
  }
  if (state.fixed) {
    out = state.value;
    return true;
  }
  const std::time_t now = std::time(nullptr);
#if defined(_WIN32)
  return localtime_s(&out, &now) == 0;
#else
  return localtime_r(&now, &out) != nullptr;
#endif
}

std::uint64_t monotonicMilliseconds() { return fake::clock().monotonicMs; }

std::int64_t utcSecondsNow() { return fake::clock().utcSeconds; }

void sleepMilliseconds(std::uint32_t milliseconds) {
  fake::clock().monotonicMs += milliseconds;
}

bool isEnvironmentVariableDefined(const char* name) {
  return fake::environment().variables.count(name) != 0;
}

bool readEnvironmentVariable(const std::wstring& name, std::wstring& value,
                             std::size_t maxUnits, bool& tooLong) {
  value.clear();
  tooLong = false;
  const auto& variables = fake::environment().variables;
  const auto found = variables.find(tsdlm::narrowLow8(name));
  if (found == variables.end() || found->second.empty()) return false;
  if (found->second.size() + 1 > maxUnits) {
    tooLong = true;
    return true;
  }
  value = found->second;
  return true;
}

bool enumerateProcesses(std::vector<ProcessId>& ids) {
  ids.clear();
  const fake::ProcessesState& state = fake::processes();
  if (state.enumerationFails) return false;
  for (const auto& process : state.processes) {
    if (ids.size() == 1024) break;
    ids.push_back(process.id);
  }
  return true;
}

ProcessId currentProcessId() { return fake::processes().self; }

bool processImagePath(ProcessId id, std::wstring& path) {
  path.clear();
  for (const auto& process : fake::processes().processes) {
    if (process.id != id) continue;
    if (!process.canOpen) return false;
    path = process.imagePath.substr(0, 259);
    return true;
  }
  return false;
}

std::vector<WindowHandle> topLevelWindows() {
  std::vector<WindowHandle> handles;
  const fake::ProcessesState& state = fake::processes();
  if (state.windowEnumerationFails) return handles;
  for (const auto& window : state.windows) handles.push_back(window.handle);
  return handles;
}

ProcessId windowProcessId(WindowHandle window) {
  const fake::FakeWindow* found = findWindow(window);
  return found != nullptr ? found->owner : 0;
}

std::wstring windowTitle(WindowHandle window) {
  const fake::FakeWindow* found = findWindow(window);
  return found != nullptr ? found->title : std::wstring();
}

bool isWindowEnabled(WindowHandle window) {
  const fake::FakeWindow* found = findWindow(window);
  return found != nullptr && found->enabled;
}

struct PendingMessage {
  WindowHandle window;
  bool delivered;
};

bool isHungWindow(WindowHandle window) {
  const fake::FakeWindow* found = findWindow(window);
  if (found == nullptr) return false;
  const std::uint64_t now = fake::clock().monotonicMs;
  for (const auto& span : found->hung) {
    if (now >= span.first && now < span.second) return true;
  }
  return false;
}

std::shared_ptr<PendingMessage> sendMessageAsync(WindowHandle window,
                                                 unsigned message,
                                                 std::uintptr_t wParam,
                                                 std::intptr_t lParam) {
  const bool delivered = findWindow(window) != nullptr && !isHungWindow(window);
  if (delivered) {
    fake::processes().sent.push_back({window, message, wParam, lParam});
  }
  return std::make_shared<PendingMessage>(PendingMessage{window, delivered});
}

MessageOutcome waitForReply(PendingMessage& pending, std::uint32_t milliseconds,
                            std::intptr_t& reply) {
  if (!pending.delivered) return MessageOutcome::notDelivered;
  const fake::FakeWindow* found = findWindow(pending.window);
  std::uint64_t& now = fake::clock().monotonicMs;
  if (now < found->answerAt) {
    now += std::min<std::uint64_t>(milliseconds, found->answerAt - now);
    if (now < found->answerAt) return MessageOutcome::waiting;
  }
  reply = found->reply;
  return MessageOutcome::answered;
}

struct HeldProcess {
  ProcessId id;
};

void HeldProcessCloser::operator()(HeldProcess* process) const {
  delete process;
}

HeldProcessHandle holdProcess(ProcessId id) {
  for (const auto& process : fake::processes().processes) {
    if (process.id == id && process.canOpen) {
      return HeldProcessHandle(new HeldProcess{id});
    }
  }
  return HeldProcessHandle();
}

bool waitForProcessEnd(HeldProcess& process, std::uint32_t milliseconds) {
  std::uint64_t endsAt = 0;
  for (const auto& candidate : fake::processes().processes) {
    if (candidate.id == process.id) endsAt = candidate.endsAt;
  }
  std::uint64_t& now = fake::clock().monotonicMs;
  if (now >= endsAt) return true;
  now += std::min<std::uint64_t>(milliseconds, endsAt - now);
  return now >= endsAt;
}

bool startProgram(const std::wstring& path, const std::wstring& directory) {
  if (fake::processes().startFails) return false;
  fake::processes().started.emplace_back(path, directory);
  return true;
}

std::wstring readProfileString(const std::wstring& section,
                               const std::wstring& key,
                               const std::wstring& defaultValue,
                               const std::wstring& path) {
  fake::ProfileState& state = fake::profile();
  state.calls.push_back({section, key, defaultValue, path});
  const auto found = state.values.find({section, key});
  const std::wstring& value =
      found != state.values.end() ? found->second : defaultValue;
  return value.substr(0, 259);
}

FileVersionInfo readFileVersion(const std::wstring& path) {
  return versionOf(path, false);
}

FileVersionInfo readLocalisedFileVersion(const std::wstring& path) {
  return versionOf(path, true);
}

bool getIeProxyConfigForCurrentUser(IeProxyConfig& config) {
  fake::WinHttpProxyState& state = fake::winHttpProxy();
  return readSettings(state.ieCalls, state.ieFails, state.ieError, state.ie,
                      config);
}

bool getDefaultProxyConfiguration(DefaultProxyConfig& config) {
  fake::WinHttpProxyState& state = fake::winHttpProxy();
  return readSettings(state.defaultCalls, state.defaultFails,
                      state.defaultError, state.defaults, config);
}

ProxyForUrlResult getProxyForUrl(const std::wstring& url,
                                 const AutoProxyOptions& options,
                                 ProxyForUrl& result) {
  fake::WinHttpProxyState& state = fake::winHttpProxy();
  state.autoCalls.push_back({url, options});
  result = ProxyForUrl{};
  fake::AutoProxyAnswer answer{
      ProxyForUrlResult::getProxyForUrlFailed, 12167, {}};
  if ((options.flags & 1u) != 0) {
    answer = state.wpad;
  } else {
    const auto found = state.scripts.find(options.autoConfigUrl);
    if (found != state.scripts.end()) answer = found->second;
  }
  if (answer.result != ProxyForUrlResult::ok) {
    fake::debugOutput().lastError = answer.error;
    return answer.result;
  }
  result = answer.answer;
  return ProxyForUrlResult::ok;
}

void outputDebugStringW(const std::wstring& text) {
  fake::debugOutput().wideLines.push_back(text);
}

void outputDebugStringA(const std::string& text) {
  fake::debugOutput().narrowLines.push_back(text);
}

std::uint32_t lastError() { return fake::debugOutput().lastError; }

void setLastError(std::uint32_t code) { fake::debugOutput().lastError = code; }

// No system texts: the proxy log's descriptions stay empty.
std::wstring systemErrorText(std::uint32_t) { return std::wstring(); }

FileTrust verifyFileTrust(const std::wstring& path, HeldFile& file) {
  auto& state = fake::trust();
  // The provider reads the file through the handle it is given: record
  // which file that was, and answer by the name it was given.
  state.verified.push_back(file.path);
  const auto found = state.files.find(path);
  const fake::TrustAnswer answer =
      found != state.files.end() ? found->second : state.otherFiles;
  FileTrust result;
  result.status = answer.status;
  result.lastError = answer.lastError;
  result.signerChain = answer.chain;
  const auto signer = state.signers.find(path);
  if (signer != state.signers.end()) result.signer = signer->second;
  return result;
}

DetachedSignature verifyDetachedSignature(const std::string& signature,
                                          const std::string& content) {
  fake::detachedSignature().calls.emplace_back(signature, content);
  return fake::detachedSignature().answer;
}

ServerCertificate examineServerCertificate(const TlsSession&) {
  ++fake::certificates().examined;
  return fake::certificates().server;
}

// The WinHTTP request layer and the credential store.

struct WinHttpHandles {
  std::wstring proxyAddress;
  bool connection = false;
  bool request = false;
  bool hasCredentials = false;
  std::wstring user;
  std::wstring password;
  std::uint32_t status = 0;   // of the last response; 0: none yet
  std::uint32_t schemes = 0;  // challenged in the last response
  int receiveTimeoutMs = 0;   // 0: none set
};

void closeWinHttpHandles(WinHttpHandles* handles) {
  if (handles == nullptr) return;
  auto& state = fake::winHttpRequest();
  state.openHandles -=
      1 + (handles->connection ? 1 : 0) + (handles->request ? 1 : 0);
  delete handles;
}

bool openProxySession(const std::wstring& proxyAddress,
                      WinHttpRequest& request) {
  request.reset();
  if (fails("WinHttpOpen")) return false;
  auto& state = fake::winHttpRequest();
  state.sessions.push_back(proxyAddress);
  ++state.openHandles;
  request.reset(new WinHttpHandles{});
  request->proxyAddress = proxyAddress;
  return true;
}

bool setTimeouts(WinHttpHandles& handles, int resolveMs, int connectMs,
                 int sendMs, int receiveMs) {
  if (fails("WinHttpSetTimeouts")) return false;
  fake::winHttpRequest().timeouts.push_back(
      {resolveMs, connectMs, sendMs, receiveMs});
  handles.receiveTimeoutMs = receiveMs;
  return true;
}

// As WinHttpCrackUrl: http and https only (12006 otherwise), a host and a
// path that fit their buffers (122 otherwise).
bool crackUrl(const std::wstring& url, CrackedUrl& parts) {
  parts = CrackedUrl{};
  if (fails("WinHttpCrackUrl")) return false;
  const std::size_t schemeEnd = url.find(L"://");
  if (schemeEnd == std::wstring::npos) return failWith(12006);
  const std::wstring scheme =
      tsdlm::lowerAsciiLetters(url.substr(0, schemeEnd));
  if (scheme != L"http" && scheme != L"https") return failWith(12006);
  const std::size_t hostStart = schemeEnd + 3;
  const std::size_t pathStart = url.find(L'/', hostStart);
  std::wstring authority = url.substr(hostStart, pathStart == std::wstring::npos
                                                     ? std::wstring::npos
                                                     : pathStart - hostStart);
  const std::wstring path =
      pathStart == std::wstring::npos ? L"" : url.substr(pathStart);
  const std::size_t colon = authority.find(L':');
  const std::wstring port =
      colon == std::wstring::npos ? L"" : authority.substr(colon + 1);
  authority = authority.substr(0, colon);
  if (authority.empty()) return failWith(12005);
  if (port.size() > 5 ||
      port.find_first_not_of(L"0123456789") != std::wstring::npos ||
      (!port.empty() && std::stoul(port) > 65535)) {
    return failWith(12006);
  }
  if (authority.size() >= 256 || path.size() >= 2048) return failWith(122);
  parts.host = authority;
  parts.path = path;
  parts.https = scheme == L"https";
  parts.port = static_cast<std::uint16_t>(
      !port.empty() ? std::stoul(port) : (parts.https ? 443 : 80));
  return true;
}

bool connectToHost(WinHttpHandles& handles, const std::wstring& host,
                   std::uint16_t port) {
  if (fails("WinHttpConnect")) return false;
  auto& state = fake::winHttpRequest();
  state.connects.push_back({host, port, L"", false});
  ++state.openHandles;
  handles.connection = true;
  return true;
}

bool openHeadRequest(WinHttpHandles& handles, const std::wstring& path,
                     bool secure) {
  if (fails("WinHttpOpenRequest")) return false;
  auto& state = fake::winHttpRequest();
  state.connects.back().path = path;
  state.connects.back().secure = secure;
  ++state.openHandles;
  handles.request = true;
  return true;
}

bool setAutoLogonPolicy(WinHttpHandles&, std::uint32_t policy) {
  if (fails("WinHttpSetOption")) return false;
  fake::winHttpRequest().policies.push_back(policy);
  return true;
}

bool setProxyCredentials(WinHttpHandles& handles, std::uint32_t scheme,
                         const std::wstring& user,
                         const std::wstring& password) {
  if (fails("WinHttpSetCredentials")) return false;
  fake::winHttpRequest().credentials.push_back({scheme, user, password});
  handles.hasCredentials = true;
  handles.user = user;
  handles.password = password;
  return true;
}

SendResult sendRequest(WinHttpHandles& handles) {
  auto& state = fake::winHttpRequest();
  ++state.sends;
  handles.status = 0;
  handles.schemes = 0;
  if (fails("WinHttpSendRequest")) return SendResult::sendFailed;
  const fake::FakeHttpProxy& proxy = proxyAt(handles.proxyAddress);
  if (proxy.sendError != 0) {
    (void)failWith(proxy.sendError);
    return SendResult::sendFailed;
  }
  if (proxy.neverAnswers) {
    constexpr std::uint64_t kHour = 3600000;
    fake::clock().monotonicMs +=
        handles.receiveTimeoutMs > 0
            ? static_cast<std::uint64_t>(handles.receiveTimeoutMs)
            : kHour;
    (void)failWith(12002);  // ERROR_WINHTTP_TIMEOUT
    return SendResult::receiveFailed;
  }
  fake::clock().monotonicMs += proxy.answerTakesMs;
  if (fails("WinHttpReceiveResponse")) return SendResult::receiveFailed;
  if (state.resends > 0) {
    --state.resends;
    fake::debugOutput().lastError = kErrorResendRequest;
    return SendResult::ok;
  }
  bool letThrough = proxy.offeredSchemes == 0;
  for (const auto& accepted : proxy.accepted) {
    if (handles.hasCredentials && accepted.first == handles.user &&
        accepted.second == handles.password) {
      letThrough = true;
    }
  }
  if (!letThrough) ++state.proxyAuthRequired;
  handles.status = letThrough ? proxy.status : 407;
  handles.schemes = letThrough ? 0 : proxy.offeredSchemes;
  return SendResult::ok;
}

// As WinHttpQueryAuthSchemes: fails (4317) on a response without a challenge.
bool queryAuthSchemes(WinHttpHandles& handles, std::uint32_t& supported) {
  supported = 0;
  if (fails("WinHttpQueryAuthSchemes")) return false;
  if (handles.schemes == 0) return failWith(4317);
  supported = handles.schemes;
  return true;
}

bool queryStatusCode(WinHttpHandles& handles, std::uint32_t& status) {
  status = 0;
  if (fails("WinHttpQueryHeaders")) return false;
  if (handles.status == 0) return failWith(12150);
  status = handles.status;
  return true;
}

std::uint32_t promptForCredentials(const std::wstring& target,
                                   std::uint32_t authError, std::wstring& user,
                                   std::wstring& password) {
  auto& state = fake::credentials();
  const auto stored = state.store.find(target);
  const bool fromStore =
      stored != state.store.end() &&
      (state.storeAnswers == fake::StoreAnswers::always ||
       (state.storeAnswers == fake::StoreAnswers::unlessForced &&
        authError == 0));
  state.dialogs.push_back({authError, user});
  password.clear();
  if (fromStore) {
    user = stored->second.user;
    password = stored->second.password;
    return 0;
  }
  user.clear();
  const std::size_t shown = state.dialogTargets.size();
  state.dialogTargets.push_back(target);
  const fake::DialogAnswer answer = shown < state.dialogAnswers.size()
                                        ? state.dialogAnswers[shown]
                                        : fake::DialogAnswer{};
  fake::clock().monotonicMs += answer.takesMs;
  if (answer.result == 0) {
    user = answer.user;
    password = answer.password;
  }
  return answer.result;
}

// As CredUIParseUserNameW: "domain\user", "user@domain" (all of it the
// user), and 1315 for a name with neither.
std::uint32_t parseUserName(const std::wstring& userName, std::wstring& user,
                            std::wstring& domain) {
  user.clear();
  domain.clear();
  const std::size_t slash = userName.find(L'\\');
  if (slash != std::wstring::npos) {
    domain = userName.substr(0, slash);
    user = userName.substr(slash + 1);
    return 0;
  }
  if (userName.find(L'@') != std::wstring::npos) {
    user = userName;
    return 0;
  }
  return 1315;
}

bool writeGenericCredential(const std::wstring& target,
                            const std::wstring& user,
                            const std::wstring& password,
                            const std::wstring& comment) {
  auto& state = fake::credentials();
  ++state.writes;
  if (state.writeFails) return failWith(1312);
  state.store[target] = {user, password, comment};
  return true;
}

bool readGenericCredential(const std::wstring& target, std::wstring& user,
                           std::wstring& password, std::wstring& comment) {
  auto& state = fake::credentials();
  ++state.reads;
  const auto found = state.store.find(target);
  if (found == state.store.end()) return failWith(1168);
  user = found->second.user;
  password = found->second.password;
  comment = found->second.comment;
  return true;
}

}  // namespace platform

namespace platform::analytics {

namespace {
std::wstring text(const wchar_t* value) {
  return value != nullptr ? value : L"";
}
}  // namespace

bool initialize(const wchar_t* product, bool flag) {
  fake::analyticsCalls().push_back(
      {"initialize", text(product), L"", L"", flag});
  return true;
}

void addCommonAttribute(const wchar_t* name, const wchar_t* value) {
  fake::analyticsCalls().push_back(
      {"addCommonAttribute", text(name), text(value), L"", false});
}

void track(const wchar_t* event, const wchar_t* key, const wchar_t* value) {
  fake::analyticsCalls().push_back(
      {"track", text(event), text(key), text(value), false});
}

bool unInitialize() {
  fake::analyticsCalls().push_back({"unInitialize", L"", L"", L"", false});
  return true;
}

}  // namespace platform::analytics

namespace fake {

platform::HeldFileHandle holdAny(const std::wstring& path) {
  return platform::held(path, nullptr);
}

}  // namespace fake
