// The Win32 side of the proxy probe and the credential store: the real URL
// split (which the unit tests' fake imitates), a request through a proxy that
// cannot be reached, and entries in the real credential store.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincred.h>

#include <string>

#include "platform/credentials.h"
#include "platform/debug_output.h"
#include "platform/winhttp_request.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
struct CrackCase {
  const char* name;
  std::wstring url;
  bool ok;
  std::wstring host;
  bool https;
  std::uint32_t error;  // when not ok
};

class CrackUrl : public ::testing::TestWithParam<CrackCase> {};

TEST_P(CrackUrl, HostSchemeAndFailures) {
  const CrackCase& c = GetParam();
  platform::CrackedUrl parts;
  ASSERT_EQ(platform::crackUrl(c.url, parts), c.ok);
  if (c.ok) {
    EXPECT_EQ(parts.host, c.host);
    EXPECT_EQ(parts.https, c.https);
    EXPECT_EQ(parts.path.substr(0, 1), L"/");
  } else {
    EXPECT_EQ(platform::lastError(), c.error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Urls, CrackUrl,
    ::testing::Values(
        CrackCase{"HttpsWithPortAndQuery",
                  L"https://target.example:8443/a/b?q=1", true,
                  L"target.example", true, 0},
        CrackCase{"UpperCaseScheme", L"HTTP://t.example/x", true, L"t.example",
                  false, 0},
        CrackCase{"FtpScheme", L"ftp://t.example/", false, L"", false, 12006},
        CrackCase{"NotAUrl", L"not a url at all", false, L"", false, 12006},
        CrackCase{"PathTooLong",
                  L"http://t.example/" + std::wstring(3000, L'x'), false, L"",
                  false, ERROR_INSUFFICIENT_BUFFER}),
    testing_support::CaseName());

TEST(ProxyRequestWin, UnreachableProxyFailsTheSendAndKeepsItsError) {
  platform::WinHttpRequest request;
  ASSERT_TRUE(platform::openProxySession(L"127.0.0.1:1", request));
  platform::CrackedUrl parts;
  ASSERT_TRUE(platform::crackUrl(L"http://t.example/file", parts));
  ASSERT_TRUE(platform::connectToHost(*request, parts.host, 80));
  ASSERT_TRUE(platform::openHeadRequest(*request, parts.path, false));
  ASSERT_TRUE(platform::setAutoLogonPolicy(*request, 2));
  ASSERT_TRUE(platform::setProxyCredentials(*request, 1, L"u", L"pw"));
  EXPECT_EQ(platform::sendRequest(*request), platform::SendResult::sendFailed);
  const std::uint32_t error = platform::lastError();
  EXPECT_EQ(error, 12029u);  // ERROR_WINHTTP_CANNOT_CONNECT
  request.reset();
  EXPECT_EQ(platform::lastError(), error);
}

class CredentialStoreWin : public ::testing::Test {
 protected:
  void TearDown() override { CredDeleteW(kTarget, CRED_TYPE_GENERIC, 0); }
  static constexpr const wchar_t* kTarget = L"hI-probe-test-proxy";
};

TEST_F(CredentialStoreWin, EntryRoundTripsWithAUtf16Secret) {
  std::wstring user = L"before";
  std::wstring password = L"before";
  std::wstring comment = L"before";
  EXPECT_FALSE(
      platform::readGenericCredential(kTarget, user, password, comment));
  EXPECT_EQ(user, L"before");

  ASSERT_TRUE(platform::writeGenericCredential(kTarget, L"old", L"x",
                                               L"TsrnProxyAuthScheme=NTLM"));
  ASSERT_TRUE(platform::writeGenericCredential(kTarget, L"DOM\\user1",
                                               L"pa\u00e9ss123", L""));
  PCREDENTIALW raw = nullptr;
  ASSERT_TRUE(CredReadW(kTarget, CRED_TYPE_GENERIC, 0, &raw));
  EXPECT_EQ(raw->CredentialBlobSize, 16u);  // 8 units, no terminator
  EXPECT_EQ(raw->Persist, static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE));
  CredFree(raw);

  ASSERT_TRUE(
      platform::readGenericCredential(kTarget, user, password, comment));
  EXPECT_EQ(user, L"DOM\\user1");
  EXPECT_EQ(password, L"pa\u00e9ss123");
  EXPECT_EQ(comment, L"");

  // The scheme rides in the comment; type, target and persistence as ever.
  ASSERT_TRUE(platform::writeGenericCredential(kTarget, L"u", L"p",
                                               L"TsrnProxyAuthScheme=Basic"));
  ASSERT_TRUE(
      platform::readGenericCredential(kTarget, user, password, comment));
  EXPECT_EQ(comment, L"TsrnProxyAuthScheme=Basic");
}

}  // namespace
