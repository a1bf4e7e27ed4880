// Transfers through the local test proxy with the native libcurl: the proxy
// manager (its discovery, probe and credential store faked) names the proxy
// and the credentials, and libcurl negotiates the scheme within its mask.
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "download/http_downloader.h"
#include "fakes/fake_platform.h"
#include "unit/local_proxy.h"
#include "unit/local_server.h"
#include "unit/process_log.h"
#include "unit/script_server.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using ::testing::HasSubstr;
using ::testing::Not;
using testing_support::LocalProxy;
using testing_support::LocalServer;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

// WinHTTP's scheme bits, as the probe's fake offers them.
constexpr std::uint32_t kBasic = 1, kNtlm = 2, kDigest = 8, kNegotiate = 16;

struct ProxyCase {
  const char* name;
  std::vector<std::string> proxyOptions;
  std::uint32_t offered;  // what the probe is told the proxy demands
  bool fetched;
  const char* lastScheme;  // of the proxy's last Proxy-Authorization; "" none
};

std::vector<std::string> demanding(const char* scheme) {
  return {"--auth", scheme, "--user", "ann", "--password", "secret"};
}

// The probe's view of the proxy at 127.0.0.1:port: it demands `offered` and
// takes ann/secret, which the credential store holds for its host.
void probeSees(int port, std::uint32_t offered) {
  const std::wstring address = L"127.0.0.1:" + std::to_wstring(port);
  fake::winHttpProxy().ie.proxy = address;
  fake::winHttpRequest().proxies[address].offeredSchemes = offered;
  fake::winHttpRequest().proxies[address].accepted = {{L"ann", L"secret"}};
  fake::credentials().store[L"127.0.0.1"] = {L"ann", L"secret", L""};
}

class HttpDownloaderProxyTest
    : public testing_support::PlatformTableTest<ProxyCase> {
 protected:
  void SetUp() override {
    PlatformTableTest::SetUp();
    curl_global_init(CURL_GLOBAL_ALL);
    writeFile(root_.file("update.xml"), "<manifest/>");
  }
  void TearDown() override { curl_global_cleanup(); }

  TempDir root_;
  TempDir work_;
  LocalServer server_{root_.path()};
};

TEST_P(HttpDownloaderProxyTest, TransferThroughTheProxy) {
  const ProxyCase& c = GetParam();
  LocalProxy proxy(c.proxyOptions);
  probeSees(proxy.port(), c.offered);

  const std::string url = server_.url("/update.xml");
  const std::string out = work_.file("update.xml");
  EXPECT_EQ(
      HttpDownloader::transfer(url, std::wstring(out.begin(), out.end())).ok,
      c.fetched);

  const std::string seen = proxy.requests();
  EXPECT_THAT(seen,
              HasSubstr("\"method\": \"GET\", \"target\": \"" + url + "\""));
  EXPECT_EQ(server_.requests().find("/update.xml") != std::string::npos,
            c.fetched);
  if (c.fetched) {
    EXPECT_EQ(readFile(out), "<manifest/>");
  }
  const std::string last = seen.substr(seen.rfind("\"proxy_authorization\": "));
  if (*c.lastScheme == '\0') {
    EXPECT_THAT(seen, Not(HasSubstr("\"proxy_authorization\": \"")));
  } else {
    EXPECT_THAT(last, HasSubstr(std::string(": \"") + c.lastScheme + " "));
  }
  EXPECT_THAT(testing_support::ProcessLog::sinceMark(),
              Not(HasSubstr("tsrnGetProxyInfo return")));
}

const ProxyCase kCases[] = {
    {"OpenProxy", {}, 0, true, ""},
    {"Basic", demanding("basic"), kBasic, true, "Basic"},
    {"Digest", demanding("digest"), kDigest, true, "Digest"},
    {"Ntlm", demanding("ntlm"), kNtlm | kNegotiate, true, "NTLM"},
    // Negotiate is outside libcurl's mask: no answer is ever sent.
    {"NegotiateOnlyIsNotAuthenticated", demanding("negotiate"), kNegotiate,
     false, ""},
    {"ProxyAnswering502", {"--status", "502"}, 0, false, ""},
    // The probe saw NTLM; the transfer meets a proxy offering Basic alone
    // (a name resolved elsewhere the second time): the password stays home.
    {"NtlmAtProbeBasicAtTransfer", demanding("basic"), kNtlm, false, ""},
    {"DigestAtProbeBasicAtTransfer", demanding("basic"), kDigest, false, ""},
    {"DigestAtProbeNtlmAtTransfer", demanding("ntlm"), kDigest, false, ""},
    // An impostor lets the probe by unasked, then asks the transfer for
    // Basic: no scheme was seen, so no credentials go.
    {"OpenAtProbeBasicAtTransfer", demanding("basic"), 0, false, ""},
};

INSTANTIATE_TEST_SUITE_P(Proxies, HttpDownloaderProxyTest,
                         ::testing::ValuesIn(kCases),
                         testing_support::CaseName());

// Debian's squid (tests/servers/squid.py) asks the tunnel for credentials.
// The tunnel opens with the stored credentials in the scheme the probe saw;
// behind it the server's test certificate is refused (60), which shows the
// TLS handshake ran through the tunnel.
struct SquidCase {
  const char* name;
  const char* config;
  std::uint32_t offered;
};

class ThroughSquid : public testing_support::PlatformTableTest<SquidCase> {};

TEST_P(ThroughSquid, ConnectTunnelAuthenticates) {
  curl_global_init(CURL_GLOBAL_ALL);
  TempDir root, tls, work, squidDir;
  writeFile(root.file("a.txt"), "secret");
  LocalServer server(root.path(), tls.path());
  {
    testing_support::ScriptServer squid(
        "squid.py",
        {"serve", squidDir.path(), GetParam().config, "ann", "secret"});
    probeSees(squid.port(), GetParam().offered);
    const std::string target = work.file("a.txt");
    EXPECT_FALSE(HttpDownloader::transfer(
        server.url("/a.txt"), std::wstring(target.begin(), target.end())));
  }
  curl_global_cleanup();
  EXPECT_THAT(testing_support::ProcessLog::sinceMark(),
              HasSubstr("curl_easy_perform() failed: 60 ("));
  const std::string access = readFile(squidDir.path() + "/squid/access.log");
  EXPECT_THAT(access, HasSubstr("TCP_DENIED/407 "));
  EXPECT_THAT(access, ::testing::ContainsRegex("TCP_TUNNEL/200 .* CONNECT "
                                               "127\\.0\\.0\\.1:[0-9]+ ann "));
}

INSTANTIATE_TEST_SUITE_P(Schemes, ThroughSquid,
                         ::testing::Values(SquidCase{"Basic", "basic", kBasic},
                                           SquidCase{"Ntlm", "ntlm", kNtlm}),
                         testing_support::CaseName());

}  // namespace
