// Scriptable stand-ins for the platform layer, linked into the unit tests in
// place of src/platform/win32. Each facility has one state record; tests set
// what the next calls see and read what was done. fake::reset() restores the
// defaults (call it in SetUp).
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/certificates.h"
#include "platform/detached_signature.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/trust.h"
#include "platform/version_info.h"
#include "platform/winhttp_proxy.h"
#include "platform/winhttp_request.h"

namespace fake {

struct FilesState {
  // Real folders on the test machine; paths use '\\' or '/' freely, the fake
  // maps '\\' to '/' before touching the file system.
  std::wstring tempPath;         // empty: GetTempPathW fails
  std::wstring publicDocuments;  // empty: the known-folder lookup fails
  int createDirectoryCalls = 0;
  // The next randomHex calls answer these, in order; past the end they
  // answer a counter in hexadecimal. "" makes a call fail.
  std::vector<std::wstring> random;
  int randomCalls = 0;
  // Files currently held (holdFile), by path. A held path, or one a test
  // adds here (a running program), can be neither deleted nor removed.
  std::map<std::wstring, int> held;
  // What the file system reports of held paths: reparse points, link counts
  // (1 when not listed) and final paths (the path itself when not listed).
  std::set<std::wstring> reparsePoints;
  std::map<std::wstring, std::uint32_t> links;
  std::map<std::wstring, std::wstring> finalPaths;
  bool protectFails = false;
  std::vector<std::wstring> protectedFolders;
  // Paths that fileExists reports present besides real files (exact text),
  // for fixed paths such as C:\Program Files\...
  std::set<std::wstring> existing;
  // Every openFile call: path and mode.
  std::vector<std::pair<std::wstring, std::wstring>> opened;
};
FilesState& files();

struct ClockState {
  bool fails = false;
  bool fixed = false;  // use `value` instead of the real local time
  std::tm value{};
  // The monotonic clock: moves only when a fake advances it (a sleep, a
  // wait for a reply, a stalled send) or a test does.
  std::uint64_t monotonicMs = 1000;
  // What utcSecondsNow answers.
  std::int64_t utcSeconds = 1796810400;  // 2026-12-09T10:00:00Z
};
ClockState& clock();

struct EnvironmentState {
  std::map<std::string, std::wstring> variables;
};
EnvironmentState& environment();

struct FakeProcess {
  platform::ProcessId id = 0;
  std::wstring imagePath;
  bool canOpen = true;
  // When it ends, on the monotonic clock (UINT64_MAX: never); a wait for
  // it moves the clock on.
  std::uint64_t endsAt = 0;
};
struct FakeWindow {
  platform::WindowHandle handle = 0;
  platform::ProcessId owner = 0;
  std::wstring title;
  bool enabled = true;
  std::intptr_t reply = 1;
  // When the reply comes, on the monotonic clock (UINT64_MAX: never); a
  // wait for it moves the clock on.
  std::uint64_t answerAt = 0;
  // Spans [from, until) of the monotonic clock in which the window counts
  // as hung; a message sent then is not delivered.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> hung;
};
struct SentMessage {
  platform::WindowHandle window;
  unsigned message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};
struct ProcessesState {
  bool enumerationFails = false;
  platform::ProcessId self = 4242;
  std::vector<FakeProcess> processes;
  bool windowEnumerationFails = false;
  std::vector<FakeWindow> windows;
  std::vector<SentMessage> sent;  // delivered messages only
  bool startFails = false;
  // Programs started: path and folder.
  std::vector<std::pair<std::wstring, std::wstring>> started;
};
ProcessesState& processes();

struct ProfileCall {
  std::wstring section;
  std::wstring key;
  std::wstring defaultValue;
  std::wstring path;
};
struct ProfileState {
  // (section, key) -> value, matched exactly. A missing pair gives the
  // default; every result is cut to 259 units, as the profile API does.
  std::map<std::pair<std::wstring, std::wstring>, std::wstring> values;
  std::vector<ProfileCall> calls;
};
ProfileState& profile();

struct VersionInfoCall {
  std::wstring path;
  bool localised = false;  // the Ex calls with FILE_VER_GET_LOCALISED
};
struct VersionInfoState {
  // Answers by path; a path not listed fails at the size step.
  std::map<std::wstring, platform::FileVersionInfo> files;
  std::vector<VersionInfoCall> calls;
};
VersionInfoState& versionInfo();

struct AutoProxyAnswer {
  platform::ProxyForUrlResult result = platform::ProxyForUrlResult::ok;
  std::uint32_t error = 0;  // the last error when result is not ok
  platform::ProxyForUrl answer;
};
struct AutoProxyCall {
  std::wstring url;
  platform::AutoProxyOptions options;
};
struct WinHttpProxyState {
  bool ieFails = false;
  std::uint32_t ieError = 0;
  platform::IeProxyConfig ie;  // default: nothing configured
  bool defaultFails = false;
  std::uint32_t defaultError = 0;
  platform::DefaultProxyConfig defaults;  // default: no proxy
  // Automatic lookups: WPAD (auto-detect flag in the options) gets `wpad`,
  // which by default fails with 12180 as on a machine without WPAD; a
  // script URL gets its entry in `scripts`, or fails with 12167.
  AutoProxyAnswer wpad{
      platform::ProxyForUrlResult::getProxyForUrlFailed, 12180, {}};
  std::map<std::wstring, AutoProxyAnswer> scripts;
  int ieCalls = 0;
  int defaultCalls = 0;
  std::vector<AutoProxyCall> autoCalls;
};
WinHttpProxyState& winHttpProxy();

struct DebugOutputState {
  std::vector<std::wstring> wideLines;   // OutputDebugStringW
  std::vector<std::string> narrowLines;  // OutputDebugStringA
  std::uint32_t lastError = 0;           // no error has a system text
};
DebugOutputState& debugOutput();

// A proxy as the fake WinHTTP request layer sees it.
struct FakeHttpProxy {
  // Non-zero: every send fails with this error (an unreachable proxy).
  std::uint32_t sendError = 0;
  // Non-zero: the proxy answers 407 offering these schemes unless the
  // request carries credentials listed in `accepted`.
  std::uint32_t offeredSchemes = 0;
  std::vector<std::pair<std::wstring, std::wstring>> accepted;
  std::uint32_t status = 200;  // the answer once the request is let through
  // Accepts the connection and never answers: each send waits for the
  // session's receive limit (an hour when none was set) on the monotonic
  // clock, then fails with ERROR_WINHTTP_TIMEOUT in the receive step.
  bool neverAnswers = false;
  std::uint64_t answerTakesMs = 0;  // on the monotonic clock, for each answer
};
struct WinHttpTimeouts {
  int resolveMs;
  int connectMs;
  int sendMs;
  int receiveMs;
};
struct ProxyCredentialsCall {
  std::uint32_t scheme;
  std::wstring user;
  std::wstring password;
};
struct ConnectCall {
  std::wstring host;
  std::uint16_t port;
  std::wstring path;  // of the HEAD request opened on it, if any
  bool secure;
};
struct WinHttpRequestState {
  // Proxies by proxy address ("p1:80"); other addresses get `otherProxies`.
  std::map<std::wstring, FakeHttpProxy> proxies;
  FakeHttpProxy otherProxies;
  // A call named here by its WinHTTP name ("WinHttpOpen", "WinHttpConnect"
  // and so on) fails every time with the given error code.
  std::map<std::string, std::uint32_t> failures;
  // The next sends succeed but leave ERROR_WINHTTP_RESEND_REQUEST behind.
  int resends = 0;
  // What was done.
  std::vector<std::wstring> sessions;     // the proxy address of each session
  std::vector<WinHttpTimeouts> timeouts;  // one per setTimeouts call
  std::vector<ConnectCall> connects;
  std::vector<std::uint32_t> policies;
  std::vector<ProxyCredentialsCall> credentials;
  int sends = 0;
  int proxyAuthRequired = 0;  // sends answered 407
  int openHandles = 0;        // opened and not closed yet
};
WinHttpRequestState& winHttpRequest();

struct DialogAnswer {
  std::uint32_t result = 1223;  // what CredUIPromptForCredentialsW returns
  std::wstring user;
  std::wstring password;
  std::uint64_t takesMs = 0;  // how long the user takes, on the monotonic clock
};
struct StoredCredential {
  std::wstring user;
  std::wstring password;
  std::wstring comment;
};
// When the credential dialog answers from the store without showing
// anything: never, for a first request only (Windows with a matching
// entry), or even when told to show the dialog (a platform ignoring flags).
enum class StoreAnswers { never, unlessForced, always };
struct DialogCall {
  std::uint32_t authError;
  std::wstring prefilledUser;
};
struct CredentialsState {
  std::map<std::wstring, StoredCredential> store;  // by target name
  bool writeFails = false;
  StoreAnswers storeAnswers = StoreAnswers::never;
  // One answer per dialog shown, in order; past the end the user cancels.
  std::vector<DialogAnswer> dialogAnswers;
  std::vector<std::wstring> dialogTargets;  // one per dialog shown
  std::vector<DialogCall> dialogs;          // one per call, shown or not
  int writes = 0;
  int reads = 0;
};
CredentialsState& credentials();

// A chain the updater's own check accepts: end certificate, CA, root in
// the Root store, every signature valid.
platform::CertificateChain trustedChain();

struct TrustAnswer {
  // What WinVerifyTrust answers and GetLastError gives after it; the default
  // is an unsigned file.
  std::int32_t status = static_cast<std::int32_t>(0x800B0100u);
  std::uint32_t lastError = 0x800B0100u;
  // The signer's chain as the system builds it.
  platform::CertificateChain chain = trustedChain();
};
struct TrustState {
  // Answers by path; a path not listed gets `otherFiles`.
  std::map<std::wstring, TrustAnswer> files;
  TrustAnswer otherFiles;
  // The signer each verification reports, by path; a path not listed has
  // no known signer (no embedded signature).
  std::map<std::wstring, platform::SignerIdentity> signers;
  std::vector<std::wstring> verified;  // paths, one per verification
};
TrustState& trust();

struct CertificatesState {
  // What examineServerCertificate answers; by default a trusted chain for
  // "update.example".
  platform::ServerCertificate server;
  int examined = 0;  // calls
};
CertificatesState& certificates();

struct DetachedSignatureState {
  // What verifyDetachedSignature answers (by default a valid signature by
  // "Tessarin, Inc" with a trusted chain), and what it was given.
  platform::DetachedSignature answer;
  std::vector<std::pair<std::string, std::string>> calls;  // signature, content
};
DetachedSignatureState& detachedSignature();

struct AnalyticsCall {
  std::string operation;  // initialize, addCommonAttribute, track, unInitialize
  std::wstring first;
  std::wstring second;
  std::wstring third;
  bool flag = false;
};
std::vector<AnalyticsCall>& analyticsCalls();

struct ConnectionState {
  bool connected = true;
  int checks = 0;
};
ConnectionState& connection();

struct ShellLaunch {
  std::wstring file;
  std::wstring parameters;
  std::wstring directory;
};
struct ShellState {
  bool startFails = false;
  bool exitCodeUnknown = false;
  std::uint32_t exitCode = 0;
  std::vector<ShellLaunch> launches;
};
ShellState& shell();

// Restores every state above to its defaults.
void reset();

// A held file of that name that need not exist (reads give nothing), for
// the checks that take a held file.
platform::HeldFileHandle holdAny(const std::wstring& path);

// Maps a fake Windows-style path to the local file system's form.
std::string localPath(const std::wstring& path);

}  // namespace fake
