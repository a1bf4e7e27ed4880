// The exported proxy interface: its records, input checks, answers from
// discovery and parsing, and the release of the answer.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fakes/fake_platform.h"
#include "proxy/proxy_manager_impl_win.h"
#include "proxy/tsrn_proxy_api.h"
#include "proxy/upi_info.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using namespace TSRN::ProxyManager;

// Pointers that must come back untouched (never dereferenced or freed).
char g_marks[4];

ProxyInfo marked() {
  return ProxyInfo{&g_marks[0], &g_marks[1], &g_marks[2], &g_marks[3], 9};
}

std::string text(const char* value) { return value ? value : "<null>"; }

void expectCleared(const ProxyInfo& answer) {
  EXPECT_EQ(answer.user, nullptr);
  EXPECT_EQ(answer.password, nullptr);
  EXPECT_EQ(answer.server, nullptr);
  EXPECT_EQ(answer.serverPort, nullptr);
  EXPECT_EQ(answer.authScheme, 0u);
}

class ProxyApi : public testing_support::PlatformTest {
 protected:
  void TearDown() override { tsrnProxyDeallocate(&answer_); }

  int ask(const char* url, const char* user = nullptr,
          const char* password = nullptr) {
    request_ = UserData{url, user, password, false};
    return tsrnGetProxyInfo(&request_, &answer_);
  }

  UserData request_{};
  ProxyInfo answer_{};
};

TEST_F(ProxyApi, NullRecordsGiveInvalidInputAndLeaveTheAnswer) {
  ProxyInfo untouched = marked();
  UserData request{"https://example.com", nullptr, nullptr, false};
  EXPECT_EQ(tsrnGetProxyInfo(nullptr, &untouched), 4);
  EXPECT_EQ(tsrnGetProxyInfo(&request, nullptr), 4);
  EXPECT_EQ(untouched.user, &g_marks[0]);
  EXPECT_EQ(untouched.serverPort, &g_marks[3]);
  EXPECT_EQ(untouched.authScheme, 9u);
  EXPECT_EQ(fake::winHttpProxy().ieCalls, 0);
}

struct BadInputCase {
  const char* name;
  const char* url;
  const char* user;
  const char* password;
};

class BadInput : public testing_support::PlatformTableTest<BadInputCase> {
 protected:
  void SetUp() override {
    PlatformTableTest::SetUp();
    fake::winHttpProxy().ie.proxy = L"p1:80";
  }
};

TEST_P(BadInput, InvalidInputWithTheAnswerClearedNotFreed) {
  ProxyInfo answer = marked();
  const UserData request{GetParam().url, GetParam().user, GetParam().password,
                         true};
  EXPECT_EQ(tsrnGetProxyInfo(&request, &answer), 4);
  expectCleared(answer);
  EXPECT_EQ(fake::winHttpProxy().ieCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, BadInput,
    ::testing::Values(
        BadInputCase{"null_url", nullptr, nullptr, nullptr},
        BadInputCase{"empty_url", "", "user", "pass"},
        BadInputCase{"url_not_utf8", "https://h\xff/", nullptr, nullptr},
        BadInputCase{"url_truncated_sequence", "https://h\xc3", nullptr,
                     nullptr},
        BadInputCase{"url_beyond_bmp", "https://\xf0\x9f\x98\x80/", nullptr,
                     nullptr},
        BadInputCase{"user_not_utf8", "https://h/", "\xc0\xaf", "p"},
        BadInputCase{"password_not_utf8", "https://h/", "u", "\xed\xa0\x80"}),
    testing_support::CaseName());

struct AnswerCase {
  const char* name;
  const char* url;
  std::optional<std::wstring> ieList;
  std::optional<std::wstring> defaultList;
  bool ieFails;
  int status;
  const char* server;  // null: the answer stays cleared
  const char* port;
};

// A table of requests, each answer released after its test.
template <typename Row>
class AnswerTable : public testing_support::PlatformTableTest<Row> {
 protected:
  void TearDown() override { tsrnProxyDeallocate(&answer_); }
  ProxyInfo answer_{};
};

using Answers = AnswerTable<AnswerCase>;

TEST_P(Answers, StatusAndFirstCandidate) {
  const AnswerCase& c = GetParam();
  fake::winHttpProxy().ie.proxy = c.ieList;
  fake::winHttpProxy().defaults.proxy = c.defaultList;
  fake::winHttpProxy().ieFails = c.ieFails;
  const UserData request{c.url, "caller", "secret", false};
  EXPECT_EQ(tsrnGetProxyInfo(&request, &answer_), c.status);
  if (c.server == nullptr) {
    expectCleared(answer_);
  } else {
    EXPECT_EQ(text(answer_.server), c.server);
    EXPECT_EQ(text(answer_.serverPort), c.port);
    // The fake proxy needs no credentials: no 407 asked for the caller's,
    // so none come back.
    EXPECT_EQ(text(answer_.user), "");
    EXPECT_EQ(text(answer_.password), "");
  }
  EXPECT_EQ(answer_.authScheme, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Configurations, Answers,
    ::testing::Values(
        AnswerCase{"no_proxy", "https://a/", std::nullopt, std::nullopt, false,
                   1, nullptr, nullptr},
        AnswerCase{"first_of_two", "https://a/", L"p1:80;p2:81", std::nullopt,
                   false, 0, "p1", "80"},
        AnswerCase{"scheme_entry", "http://a/", L"https=s:443;http=h:8080",
                   std::nullopt, false, 0, "h", "8080"},
        // The probe's HEAD request cannot be made for an ftp target.
        AnswerCase{"ftp_target", "ftp://a/", L"p1", std::nullopt, false, 2,
                   nullptr, nullptr},
        AnswerCase{"ipv6", "https://a/", L"[::1]:3128", std::nullopt, false, 0,
                   "[::1]", "3128"},
        AnswerCase{"winhttp_default", "https://a/", std::nullopt,
                   L"default:3128", false, 0, "default", "3128"},
        AnswerCase{"empty_host_skipped", "https://a/", L":8080;p2:81",
                   std::nullopt, false, 0, "p2", "81"},
        AnswerCase{"only_empty_host", "https://a/", L":8080", std::nullopt,
                   false, 4, nullptr, nullptr},
        AnswerCase{"separators_only", "https://a/", L";;;", std::nullopt, false,
                   2, nullptr, nullptr},
        AnswerCase{"blanks_only", "https://a/", L"   ", std::nullopt, false, 0,
                   "   ", "443"},
        AnswerCase{"no_entry_for_scheme", "https://a/", L"http=p1:80;ftp=p2:21",
                   std::nullopt, false, 2, nullptr, nullptr},
        AnswerCase{"empty_list", "https://a/", L"", L"default:1", false, 2,
                   nullptr, nullptr},
        AnswerCase{"discovery_fails", "https://a/", L"p1:80", std::nullopt,
                   true, 2, nullptr, nullptr}),
    testing_support::CaseName());

// C callers pass `silent` as a byte: every non-zero value means silent, and
// no value is undefined behaviour.
using SilentByte = AnswerTable<unsigned>;

TEST_P(SilentByte, AnyNonZeroValueNeverShowsTheDialog) {
  fake::winHttpProxy().ie.proxy = L"p1:80";
  fake::winHttpRequest().otherProxies.offeredSchemes = 1;  // demands Basic
  UserData request{"https://a/", nullptr, nullptr, 0};
  request.silent = static_cast<unsigned char>(GetParam());
  const int status = tsrnGetProxyInfo(&request, &answer_);
  if (GetParam() == 0) {
    EXPECT_EQ(status, 5);  // the dialog was shown and cancelled
    EXPECT_FALSE(fake::credentials().dialogTargets.empty());
  } else {
    EXPECT_EQ(status, 6);
    EXPECT_TRUE(fake::credentials().dialogTargets.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Values, SilentByte,
                         ::testing::Values(0u, 1u, 2u, 0x80u, 0xFFu),
                         ::testing::PrintToStringParamName());

TEST_F(ProxyApi, ReusedAnswerIsReleasedBeforeTheNextCall) {
  fake::winHttpProxy().ie.proxy = L"p1:80";
  ASSERT_EQ(ask("https://a/"), 0);
  tsrnProxyDeallocate(&answer_);
  fake::winHttpProxy().ie.proxy = L"p2:81";
  ASSERT_EQ(ask("https://a/"), 0);
  EXPECT_EQ(text(answer_.server), "p2");
}

TEST_F(ProxyApi, DeallocateFreesOnceAndIgnoresNull) {
  fake::winHttpProxy().ie.proxy = L"p1:80";
  ASSERT_EQ(ask("https://a/", "u", "p"), 0);
  answer_.authScheme = 4;
  tsrnProxyDeallocate(&answer_);
  expectCleared(answer_);
  tsrnProxyDeallocate(&answer_);  // nothing left: must not free again
  expectCleared(answer_);
  tsrnProxyDeallocate(nullptr);
}

// The probe's URL split has fixed buffers and needs a scheme: such URLs get
// a failure, never a half-filled answer, and leave no handle open.
TEST_F(ProxyApi, LongAndOddUrlsFailTheProbe) {
  fake::winHttpProxy().ie.proxy = L"p1";
  const std::string longUrl = "http://a/" + std::string(100000, 'x');
  EXPECT_EQ(ask(longUrl.c_str()), 2);
  expectCleared(answer_);
  EXPECT_EQ(ask("not a url at all"), 2);
  expectCleared(answer_);
  EXPECT_TRUE(fake::winHttpProxy().autoCalls.empty());
  EXPECT_EQ(fake::winHttpRequest().sessions.size(), 2u);
  EXPECT_EQ(fake::winHttpRequest().openHandles, 0);
}

TEST_F(ProxyApi, ValidateInputClearsWithoutFreeing) {
  ProxyManagerImplWin manager;
  ProxyInfo answer = marked();
  const UserData good{"x", nullptr, nullptr, false};
  EXPECT_EQ(manager.ValidateInput(good, answer), PM_STATUS_SUCCESS);
  expectCleared(answer);
  answer = marked();
  manager.ResetOutput(answer);
  expectCleared(answer);
}

UPIInfo filled() {
  UPIInfo info;
  info.url = "https://example.com/a-long-enough-url-to-leave-small-strings";
  info.server = "proxy.example.com";
  info.serverPort = "3128";
  info.user = "user-name-beyond-small-string-capacity";
  info.password = "secret";
  return info;
}

std::vector<std::string> fields(const UPIInfo& info) {
  return {info.url, info.server, info.serverPort, info.user, info.password};
}

const std::vector<std::string> kEmpty(5);

TEST(UPIInfoRecord, CopiesAndMovesMemberWise) {
  UPIInfo source = filled();
  UPIInfo copy(source);
  EXPECT_EQ(fields(copy), fields(filled()));
  EXPECT_EQ(fields(source), fields(filled()));

  UPIInfo moved(std::move(source));
  EXPECT_EQ(fields(moved), fields(filled()));
  EXPECT_EQ(fields(source), kEmpty);

  UPIInfo assigned;
  assigned.server = "old";
  assigned = moved;
  EXPECT_EQ(fields(assigned), fields(filled()));

  UPIInfo moveAssigned;
  moveAssigned.password = "old";
  moveAssigned = std::move(assigned);
  EXPECT_EQ(fields(moveAssigned), fields(filled()));
  EXPECT_EQ(fields(assigned), kEmpty);
}

TEST(UPIInfoRecord, SelfAssignmentChangesNothing) {
  UPIInfo info = filled();
  UPIInfo& alias = info;
  info = alias;
  EXPECT_EQ(fields(info), fields(filled()));
  info = std::move(alias);
  EXPECT_EQ(fields(info), fields(filled()));
}

}  // namespace
