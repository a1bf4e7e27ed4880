// The credential dialog's answer and the credential store entries.
#include "proxy/proxy_credentials.h"

#include <gtest/gtest.h>

#include <string>

#include "fakes/fake_platform.h"
#include "proxy/proxy_log.h"
#include "unit/proxy_log_lines.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using namespace TSRN::ProxyManager;
using testing_support::proxyLogHas;

// What the dialog answers and what ShowCredentialDialog makes of it.
struct DialogCase {
  const char* name;
  std::uint32_t result;  // of the dialog
  std::wstring typed;    // the user name typed
  std::wstring password;
  int status;
  std::wstring user;  // the user output
  const char* line;   // a log line the case must write
};

class Dialog : public testing_support::PlatformTableTest<DialogCase> {
 protected:
  void SetUp() override {
    PlatformTableTest::SetUp();
    ASSERT_TRUE(IsLogEnabled()) << "run with TSRN_ENABLE_DEBUG_STRING=TRUE";
  }
};

TEST_P(Dialog, UserNameAndStatus) {
  const DialogCase& c = GetParam();
  fake::credentials().dialogAnswers = {{c.result, c.typed, c.password}};
  std::wstring user = L"stale";
  std::wstring password = L"stale";
  EXPECT_EQ(ProxyCredentials::ShowCredentialDialog(L"proxy1", user, password),
            c.status);
  EXPECT_EQ(user, c.user);
  EXPECT_EQ(password, c.status == 0 ? c.password : L"");
  EXPECT_TRUE(proxyLogHas(c.line)) << c.line;
  EXPECT_EQ(fake::credentials().dialogTargets,
            std::vector<std::wstring>{L"proxy1"});
  EXPECT_EQ(fake::credentials().writes, 0);  // the dialog itself saves nothing
}

const char kAnswered[] = "[INFO]   ShowCredentialDialog response:0";

INSTANTIATE_TEST_SUITE_P(
    Answers, Dialog,
    ::testing::Values(
        DialogCase{"proxy_as_domain", 0, L"proxy1\\user1", L"pw", 0, L"user1",
                   kAnswered},
        DialogCase{"proxy_as_domain_upper", 0, L"PROXY1\\user1", L"pw", 0,
                   L"user1", kAnswered},
        DialogCase{"other_domain", 0, L"DOM1\\user1", L"pw", 0, L"DOM1\\user1",
                   kAnswered},
        DialogCase{"longer_domain", 0, L"proxy10\\user1", L"", 0,
                   L"proxy10\\user1", kAnswered},
        // No domain part: the name as typed, without a leading backslash.
        DialogCase{"principal_name", 0, L"user1@dom1", L"pw", 0, L"user1@dom1",
                   kAnswered},
        DialogCase{"unparsable_name", 0, L"user1", L"pw", 2, L"",
                   "[ERROR]   CredUIParseUserNameW() API failed. Error:1315"},
        DialogCase{"cancelled", 1223, L"", L"", 5, L"",
                   "[INFO]   User CANCELLED credential dialog!"},
        DialogCase{"no_display", 1400, L"", L"", 2, L"",
                   "[ERROR]   CredUIPromptForCredentialsW() API failed. "
                   "Error:1400"}),
    testing_support::CaseName());

using Store = testing_support::PlatformTest;

TEST_F(Store, WritesOneEntryPerHostAndRefusesEmptyParts) {
  EXPECT_FALSE(ProxyCredentials::StoreCredentials(L"p1", L"", L"pw", 1));
  EXPECT_FALSE(ProxyCredentials::StoreCredentials(L"", L"u", L"pw", 1));
  EXPECT_EQ(fake::credentials().writes, 0);

  EXPECT_TRUE(
      ProxyCredentials::StoreCredentials(L"p1", L"u1", L"pw1", kSchemeNtlm));
  EXPECT_EQ(fake::credentials().store[L"p1"].comment,
            L"TsrnProxyAuthScheme=NTLM");
  // A recorded scheme is never lowered.
  EXPECT_TRUE(
      ProxyCredentials::StoreCredentials(L"p1", L"u2", L"", kSchemeBasic));
  ASSERT_EQ(fake::credentials().store.size(), 1u);
  EXPECT_EQ(fake::credentials().store[L"p1"].user, L"u2");
  EXPECT_EQ(fake::credentials().store[L"p1"].comment,
            L"TsrnProxyAuthScheme=NTLM");
  EXPECT_TRUE(
      ProxyCredentials::StoreCredentials(L"p2", L"u", L"", kSchemeNone));
  EXPECT_EQ(fake::credentials().store[L"p2"].comment, L"");
  EXPECT_TRUE(proxyLogHas("[INFO]   Successfully stored credential."));

  fake::credentials().writeFails = true;
  EXPECT_FALSE(ProxyCredentials::StoreCredentials(L"p1", L"u3", L"pw3", 1));
  EXPECT_TRUE(proxyLogHas("[ERROR]   Failed to store credential !!!"));
  EXPECT_FALSE(testing_support::proxyLogMentions("pw1"));
}

TEST_F(Store, LoadChangesTheOutputsOnlyWhenFound) {
  std::wstring user = L"before";
  std::wstring password = L"before";
  std::uint32_t scheme = 99;
  EXPECT_FALSE(
      ProxyCredentials::LoadCredentials(L"p1", user, password, scheme));
  EXPECT_FALSE(ProxyCredentials::LoadCredentials(L"", user, password, scheme));
  EXPECT_EQ(user, L"before");
  EXPECT_EQ(password, L"before");
  EXPECT_EQ(scheme, 99u);
  EXPECT_TRUE(proxyLogHas("[DEBUG]   No credential found."));
  EXPECT_EQ(fake::credentials().reads, 1);  // an empty host is not looked up

  fake::credentials().store[L"p1"] = {L"DOM\\u", L"secret",
                                      L"TsrnProxyAuthScheme=Digest"};
  EXPECT_TRUE(ProxyCredentials::LoadCredentials(L"p1", user, password, scheme));
  EXPECT_EQ(user, L"DOM\\u");
  EXPECT_EQ(password, L"secret");
  EXPECT_EQ(scheme, kSchemeDigest);
  EXPECT_TRUE(proxyLogHas(
      "[INFO]   Performing 'LoadCredentials' for proxy server:p1 with "
      "user:before"));
  EXPECT_FALSE(testing_support::proxyLogMentions("secret"));
}

}  // namespace
