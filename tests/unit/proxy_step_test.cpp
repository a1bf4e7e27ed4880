// The downloader's proxy step against the fakes of the proxy manager's
// discovery, probe and credential store: which outcome each answer gives and
// the exact log entries of the failures.
#include "download/proxy_step.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "fakes/fake_platform.h"
#include "unit/process_log.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;

const std::wstring kIni =
    L"C:\\Program Files\\Common Files\\Tessarin Shared\\Tessarin Download "
    L"Manager\\update.ini";
constexpr std::uint32_t kBasic = 1;
const std::string kUrl = "http://updates.example/update.xml";

struct StepCase {
  const char* name;
  const wchar_t* suppress;   // "suppress_login_dialog"; null: no update.ini
  const wchar_t* proxyList;  // the user's proxy list; null: none configured
  std::uint32_t offered;     // schemes the proxy demands, 0: none
  const wchar_t* stored;     // the comment of a credential stored for the
                             // proxy host; null: none
  bool discoveryFails;
  std::string url;
  ProxyStepResult result;
  std::string entry;  // what the step adds to the log, byte for byte
};

using ProxyStepTest = testing_support::PlatformTableTest<StepCase>;

TEST_P(ProxyStepTest, OutcomeAndLogEntry) {
  const StepCase& c = GetParam();
  if (c.suppress != nullptr) {
    fake::files().existing.insert(kIni);
    fake::profile().values[{L"Proxy", L"suppress_login_dialog"}] = c.suppress;
  }
  if (c.proxyList != nullptr) fake::winHttpProxy().ie.proxy = c.proxyList;
  fake::winHttpProxy().ieFails = c.discoveryFails;
  fake::winHttpProxy().ieError = 5;
  fake::FakeHttpProxy proxy;
  proxy.offeredSchemes = c.offered;
  proxy.accepted = {{L"ann", L"secret"}};
  fake::winHttpRequest().otherProxies = proxy;
  if (c.stored != nullptr) {
    fake::credentials().store[L"10.0.0.1"] = {L"ann", L"secret", c.stored};
  }

  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                           &curl_easy_cleanup);
  ASSERT_TRUE(curl);
  EXPECT_EQ(runProxyStep(curl.get(), c.url), c.result);
  EXPECT_EQ(testing_support::ProcessLog::sinceMark().substr(
                c.entry.empty() ? 0 : 21),  // past the timestamp
            c.entry);
}

const StepCase kCases[] = {
    {"NothingConfiguredGoesDirect", nullptr, nullptr, 0, nullptr, false, kUrl,
     ProxyStepResult::kDirect, ""},
    {"OpenProxyIsSet", nullptr, L"10.0.0.1:3128", 0, nullptr, false, kUrl,
     ProxyStepResult::kProxySet, ""},
    {"StoredCredentialIsSet", L"1", L"10.0.0.1:3128", kBasic, L"", false, kUrl,
     ProxyStepResult::kProxySet, ""},
    {"SilentWithoutCredentialHasNoLineEnd", L"1", L"10.0.0.1:3128", kBasic,
     nullptr, false, kUrl, ProxyStepResult::kFailed,
     "Tsrn proxy manager setup is in silent mode "},
    {"NotSilentUnlessExactlyOneAndDialogCancelled", L"true", L"10.0.0.1:3128",
     kBasic, nullptr, false, kUrl, ProxyStepResult::kFailed,
     "tsrnGetProxyInfo return: 5 with silent=0 schema=0\r\n"},
    {"EmptyUrlIsInvalidInput", nullptr, L"10.0.0.1:3128", 0, nullptr, false, "",
     ProxyStepResult::kFailed,
     "tsrnGetProxyInfo return: 4 with silent=0 schema=0\r\n"},
    {"FailedDiscoveryDoesNotFallBackToDirect", L"1", nullptr, 0, nullptr, true,
     kUrl, ProxyStepResult::kFailed,
     "tsrnGetProxyInfo return: 2 with silent=1 schema=0\r\n"},
    {"ListWithoutCandidatesIsNoSuccess", nullptr, L";;", 0, nullptr, false,
     kUrl, ProxyStepResult::kFailed,
     "tsrnGetProxyInfo return: 2 with silent=0 schema=0\r\n"},
    // A proxy asking Basic for a host whose entry was saved for NTLM is not
    // used, and no dialog is shown for it (it would answer 5, cancelled).
    {"WeakerProxyThanTheStoredEntryFails", nullptr, L"10.0.0.1:3128", kBasic,
     L"TsrnProxyAuthScheme=NTLM", false, kUrl, ProxyStepResult::kFailed,
     "tsrnGetProxyInfo return: 2 with silent=0 schema=0\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Answers, ProxyStepTest, ::testing::ValuesIn(kCases),
                         testing_support::CaseName());

}  // namespace
