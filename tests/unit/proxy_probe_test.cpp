// The authenticating-proxy probe against a scripted WinHTTP request layer,
// and the lookup driver over several candidates.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "proxy/authenticating_proxy_probe.h"
#include "proxy/proxy_credentials.h"
#include "proxy/proxy_log.h"
#include "proxy/proxy_manager_impl_win.h"
#include "proxy/rejected_credentials.h"
#include "proxy/tsrn_proxy_api.h"
#include "unit/proxy_log_lines.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using namespace TSRN::ProxyManager;
using testing_support::proxyLogHas;
using testing_support::proxyLogMentions;

constexpr std::uint32_t kBasic = 1, kNtlm = 2, kPassport = 4, kDigest = 8,
                        kNegotiate = 16;

class Probe : public testing_support::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ASSERT_TRUE(IsLogEnabled()) << "run with TSRN_ENABLE_DEBUG_STRING=TRUE";
    info_.url = "http://target.example/file.xml";
    info_.server = "p1";
    info_.serverPort = "8080";
  }
  void TearDown() override { EXPECT_EQ(fake::winHttpRequest().openHandles, 0); }

  PMStatus run(bool silent = false) {
    LookupDeadline deadline;
    return AuthenticatingProxyProbe(info_, scheme_, address_, deadline)
        .CheckAuthenticatingProxy(silent);
  }
  void callerCredentials() {
    info_.user = "u";
    info_.password = "pw";
  }
  static fake::FakeHttpProxy& proxy() {
    return fake::winHttpRequest().proxies[L"p1:8080"];
  }
  static std::vector<std::wstring> handedUsers() {
    std::vector<std::wstring> users;
    for (const auto& call : fake::winHttpRequest().credentials) {
      users.push_back(call.user);
    }
    return users;
  }

  UPIInfo info_;
  std::uint32_t scheme_ = 77;
  std::wstring address_ = L"p1:8080";
};

// The same for a table, one test per row.
template <typename Row>
class ProbeTable : public Probe, public ::testing::WithParamInterface<Row> {};

struct SchemeCase {
  const char* name;
  std::uint32_t offered;
  std::uint32_t handed;    // to WinHTTP
  std::uint32_t reported;  // in the answer
};

using SchemeTable = ProbeTable<SchemeCase>;

TEST_P(SchemeTable, CallerCredentialsWorkAndAreStored) {
  const SchemeCase& c = GetParam();
  callerCredentials();
  proxy().offeredSchemes = c.offered;
  proxy().accepted = {{L"u", L"pw"}};
  EXPECT_EQ(run(), PM_STATUS_SUCCESS);
  ASSERT_EQ(fake::winHttpRequest().credentials.size(), 1u);
  EXPECT_EQ(fake::winHttpRequest().credentials[0].scheme, c.handed);
  EXPECT_EQ(scheme_, c.reported);
  EXPECT_TRUE(
      proxyLogHas("[DEBUG]   Trying " + std::to_string(c.handed) +
                  " authentication scheme although proxy server supports " +
                  std::to_string(c.offered) + " authentication scheme"));
  EXPECT_EQ(fake::credentials().store[L"p1"].user, L"u");
  EXPECT_EQ(fake::credentials().store[L"p1"].password, L"pw");
  EXPECT_EQ(fake::credentials().store[L"p1"].comment,
            ProxyCredentials::SchemeComment(c.reported));
  // Handed back only with a scheme the updater can name.
  EXPECT_EQ(info_.user, c.reported != 0 ? "u" : "");
  EXPECT_TRUE(fake::credentials().dialogTargets.empty());
}

// Silent, with no credentials anywhere: the scheme is still reported.
TEST_P(SchemeTable, SilentWithoutCredentialsGivesSilentModeErrorAfterOne407) {
  proxy().offeredSchemes = GetParam().offered;
  EXPECT_EQ(run(true), PM_STATUS_SILENT_MODE_ERROR);
  EXPECT_EQ(scheme_, GetParam().reported);
  EXPECT_EQ(fake::winHttpRequest().sends, 1);
  EXPECT_TRUE(fake::credentials().dialogTargets.empty());
  EXPECT_EQ(info_.user, "");
  EXPECT_TRUE(proxyLogHas(
      "[ERROR]   PM_STATUS_SILENT_MODE_ERROR - Application running under "
      "Silent Mode and it requires proxy server credentials."));
}

INSTANTIATE_TEST_SUITE_P(
    Offers, SchemeTable,
    ::testing::Values(
        SchemeCase{"NtlmAndNegotiate", kNtlm | kNegotiate, kNtlm, 4},
        SchemeCase{"NegotiateAndBasic", kNegotiate | kBasic, kNtlm, 4},
        SchemeCase{"NtlmAlone", kNtlm, kNtlm, 4},
        SchemeCase{"DigestAndBasic", kDigest | kBasic, kDigest, 2},
        SchemeCase{"DigestAlone", kDigest, kDigest, 2},
        SchemeCase{"BasicAlone", kBasic, kBasic, 1},
        SchemeCase{"PassportAlone", kPassport, 0, 0}),
    testing_support::CaseName());

// A stored entry saved for one scheme, a proxy of that host offering
// another: the password goes only with a scheme at least as strong; a proxy
// offering a weaker one is not used (no dialog either); the entry records
// the strongest scheme it worked with.
struct StoredSchemeCase {
  const char* name;
  std::wstring comment;  // of the stored entry
  std::uint32_t offered;
  int status;
  bool sent;              // to WinHTTP and back to the caller
  std::wstring recorded;  // the entry's comment afterwards
};

using StoredScheme = ProbeTable<StoredSchemeCase>;

TEST_P(StoredScheme, NeverWeakerThanRecorded) {
  const StoredSchemeCase& c = GetParam();
  fake::credentials().store[L"p1"] = {L"ann", L"secret", c.comment};
  fake::credentials().dialogAnswers = {{0, L"p1\\ann", L"secret"}};
  proxy().offeredSchemes = c.offered;
  proxy().accepted = {{L"ann", L"secret"}};
  EXPECT_EQ(run(), c.status);
  EXPECT_EQ(handedUsers(), c.sent ? std::vector<std::wstring>{L"ann"}
                                  : std::vector<std::wstring>{});
  EXPECT_EQ(info_.user, c.sent ? "ann" : "");
  EXPECT_EQ(info_.password, c.sent ? "secret" : "");
  EXPECT_TRUE(fake::credentials().dialogTargets.empty());
  EXPECT_EQ(proxyLogMentions("[ERROR]   Stored credentials were saved for "
                             "authentication scheme"),
            c.status == PM_STATUS_FAILURE);
  EXPECT_EQ(fake::credentials().store[L"p1"].comment, c.recorded);
}

const std::wstring kNtlmEntry = L"TsrnProxyAuthScheme=NTLM";
const std::wstring kDigestEntry = L"TsrnProxyAuthScheme=Digest";
const std::wstring kBasicEntry = L"TsrnProxyAuthScheme=Basic";

INSTANTIATE_TEST_SUITE_P(
    Entries, StoredScheme,
    ::testing::Values(
        StoredSchemeCase{"NtlmEntryBasicProxy", kNtlmEntry, kBasic, 2, false,
                         kNtlmEntry},
        StoredSchemeCase{"NtlmEntryDigestProxy", kNtlmEntry, kDigest | kBasic,
                         2, false, kNtlmEntry},
        StoredSchemeCase{"DigestEntryBasicProxy", kDigestEntry, kBasic, 2,
                         false, kDigestEntry},
        StoredSchemeCase{"NtlmEntryUnknownSchemes", kNtlmEntry, kPassport, 2,
                         false, kNtlmEntry},
        // An impostor letting the probe by unasked learns no scheme; nothing
        // is handed back for the transfer to send it when it asks later.
        StoredSchemeCase{"NtlmEntryProxyAskingNothing", kNtlmEntry, 0, 0, false,
                         kNtlmEntry},
        StoredSchemeCase{"NtlmEntryNegotiateProxy", kNtlmEntry, kNegotiate, 0,
                         true, kNtlmEntry},
        StoredSchemeCase{"NtlmEntryBasicAndNegotiateProxy", kNtlmEntry,
                         kBasic | kNegotiate, 0, true, kNtlmEntry},
        StoredSchemeCase{"BasicEntryBasicProxy", kBasicEntry, kBasic, 0, true,
                         kBasicEntry},
        StoredSchemeCase{"BasicEntryNtlmProxyRaisesIt", kBasicEntry, kNtlm, 0,
                         true, kNtlmEntry},
        // Entries from before schemes were recorded: Basic as ever, Digest
        // and NTLM recorded once they worked.
        StoredSchemeCase{"NoSchemeBasicProxy", L"", kBasic, 0, true, L""},
        StoredSchemeCase{"NoSchemeDigestProxyRecordsIt", L"", kDigest, 0, true,
                         kDigestEntry},
        StoredSchemeCase{"NoSchemeNtlmProxyRecordsIt", L"", kNtlm | kNegotiate,
                         0, true, kNtlmEntry},
        StoredSchemeCase{"ForeignComment", L"saved by another program", kBasic,
                         0, true, L"saved by another program"},
        // Our marker in any letter case; with a value we cannot read, the
        // strongest scheme.
        StoredSchemeCase{"MixedCaseComment", L"tsrnPROXYauthscheme=nTlM",
                         kBasic, 2, false, L"tsrnPROXYauthscheme=nTlM"},
        StoredSchemeCase{"MalformedComment", L"TsrnProxyAuthScheme=Basic;x",
                         kDigest, 2, false, L"TsrnProxyAuthScheme=Basic;x"}),
    testing_support::CaseName());

TEST_F(Probe, OpenProxyWithoutCredentialsStoresNothing) {
  EXPECT_EQ(run(), PM_STATUS_SUCCESS);
  EXPECT_EQ(info_.user, "");
  EXPECT_EQ(info_.password, "");
  EXPECT_EQ(scheme_, 0u);
  EXPECT_EQ(fake::credentials().writes, 0);
  EXPECT_EQ(fake::credentials().reads, 0);
  EXPECT_EQ(fake::winHttpRequest().sends, 1);
  EXPECT_EQ(fake::winHttpRequest().policies, std::vector<std::uint32_t>{2});
  EXPECT_EQ(fake::winHttpRequest().sessions,
            std::vector<std::wstring>{L"p1:8080"});
  ASSERT_EQ(fake::winHttpRequest().timeouts.size(), 1u);
  const fake::WinHttpTimeouts limits = fake::winHttpRequest().timeouts[0];
  EXPECT_EQ(std::vector<int>({limits.resolveMs, limits.connectMs, limits.sendMs,
                              limits.receiveMs}),
            std::vector<int>(4, 5000));
}

TEST_F(Probe, CallerCredentialsOnAnOpenProxyAreStillStored) {
  callerCredentials();
  EXPECT_EQ(run(), PM_STATUS_SUCCESS);
  EXPECT_EQ(fake::winHttpRequest().sends, 1);
  EXPECT_TRUE(fake::winHttpRequest().credentials.empty());
  EXPECT_EQ(scheme_, 0u);
  EXPECT_EQ(info_.user, "");  // no 407 asked for them: not handed back
  EXPECT_EQ(fake::credentials().store[L"p1"].user, L"u");
  EXPECT_EQ(fake::credentials().reads, 1);  // the earlier entry's scheme
}

TEST_F(Probe, RejectedStoredEntryLeadsStraightToTheDialog) {
  fake::credentials().store[L"p1"] = {L"old", L"bad", L""};
  fake::credentials().dialogAnswers = {{0, L"P1\\new", L"good"}};
  proxy().offeredSchemes = kBasic;
  proxy().accepted = {{L"new", L"good"}};
  EXPECT_EQ(run(), PM_STATUS_SUCCESS);
  EXPECT_EQ(handedUsers(), (std::vector<std::wstring>{L"old", L"new"}));
  // One lookup; the other read is the store's look at the scheme it keeps.
  EXPECT_EQ(fake::credentials().reads, 2);
  EXPECT_EQ(fake::credentials().dialogTargets,
            std::vector<std::wstring>{L"p1"});
  EXPECT_EQ(fake::credentials().store[L"p1"].user, L"new");
  EXPECT_EQ(fake::credentials().store[L"p1"].password, L"good");
  EXPECT_EQ(fake::winHttpRequest().policies,
            (std::vector<std::uint32_t>{2, 0}));
  EXPECT_EQ(info_.user, "new");
  EXPECT_EQ(info_.password, "good");
  EXPECT_EQ(scheme_, 1u);
  EXPECT_FALSE(proxyLogMentions("good"));
  EXPECT_FALSE(proxyLogMentions("bad"));
}

TEST_F(Probe, RejectedCallerCredentialsGiveWayToTheStoreThenTheDialog) {
  callerCredentials();
  fake::credentials().store[L"p1"] = {L"stored", L"x", L""};
  fake::credentials().dialogAnswers = {{0, L"D\\typed", L"y"}};
  proxy().offeredSchemes = kDigest;
  proxy().accepted = {{L"D\\typed", L"y"}};
  EXPECT_EQ(run(), PM_STATUS_SUCCESS);
  EXPECT_EQ(handedUsers(),
            (std::vector<std::wstring>{L"u", L"stored", L"D\\typed"}));
  EXPECT_EQ(info_.user, "D\\typed");
  EXPECT_EQ(fake::credentials().store[L"p1"].user, L"D\\typed");
}

TEST_F(Probe, CancelledOrFailedDialogEndsTheProbe) {
  proxy().offeredSchemes = kBasic;
  EXPECT_EQ(run(), PM_STATUS_USER_CANCELLED);
  fake::credentials().dialogAnswers = {{1400, L"", L""}};
  fake::credentials().dialogTargets.clear();
  EXPECT_EQ(run(), PM_STATUS_FAILURE);
  EXPECT_EQ(fake::credentials().writes, 0);
  EXPECT_EQ(scheme_, 77u);  // only success and the silent mode set it
}

// Without the rule the answerless attempt would fail the status query.
TEST_F(Probe, ResendRequestRepeatsTheAttempt) {
  fake::winHttpRequest().resends = 2;
  EXPECT_EQ(run(), PM_STATUS_SUCCESS);
  EXPECT_EQ(fake::winHttpRequest().sends, 3);
  EXPECT_FALSE(proxyLogMentions("WinHttpQueryHeaders"));
}

using LetThrough = ProbeTable<std::uint32_t>;

TEST_P(LetThrough, AnyStatusButProxyAuthenticationPasses) {
  proxy().status = GetParam();
  EXPECT_EQ(run(), PM_STATUS_SUCCESS);
  EXPECT_TRUE(proxyLogHas("[DEBUG]   Received HTTP status:" +
                          std::to_string(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Statuses, LetThrough,
                         ::testing::Values(200u, 204u, 302u, 404u, 502u),
                         ::testing::PrintToStringParamName());

struct FailureCase {
  const char* name;  // of the failing call
  int status;
};

using FailingCall = ProbeTable<FailureCase>;

// Caller credentials and a Basic proxy, so that every call is made.
TEST_P(FailingCall, IsReportedAndClosesEveryHandle) {
  callerCredentials();
  proxy().offeredSchemes = kBasic;
  proxy().accepted = {{L"u", L"pw"}};
  fake::winHttpRequest().failures[GetParam().name] = 12345;
  EXPECT_EQ(run(), GetParam().status);
  EXPECT_TRUE(proxyLogHas("[ERROR]   " + std::string(GetParam().name) +
                          "() API failed. Error:12345 Description:"));
  EXPECT_EQ(fake::credentials().writes, GetParam().status == 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FailingCall,
    ::testing::Values(FailureCase{"WinHttpOpen", 2},
                      FailureCase{"WinHttpSetTimeouts", 2},
                      FailureCase{"WinHttpCrackUrl", 2},
                      FailureCase{"WinHttpConnect", 2},
                      FailureCase{"WinHttpOpenRequest", 2},
                      FailureCase{"WinHttpSetOption", 2},
                      FailureCase{"WinHttpSetCredentials", 2},
                      FailureCase{"WinHttpSendRequest", 2},
                      FailureCase{"WinHttpReceiveResponse", 2},
                      FailureCase{"WinHttpQueryHeaders", 2},
                      // No scheme learnt: no credentials go out, the 407
                      // stays, and the unanswered dialog cancels.
                      FailureCase{"WinHttpQueryAuthSchemes", 5}),
    testing_support::CaseName());

TEST_F(Probe, HeadRequestGoesToThePortTheUrlNames) {
  info_.url = "https://target.example:8443/a/b?q=1";
  EXPECT_EQ(run(), PM_STATUS_SUCCESS);
  info_.url = "HTTP://target.example/";
  EXPECT_EQ(run(), PM_STATUS_SUCCESS);
  info_.url = "https://target.example/";
  EXPECT_EQ(run(), PM_STATUS_SUCCESS);
  const auto& connects = fake::winHttpRequest().connects;
  ASSERT_EQ(connects.size(), 3u);
  EXPECT_EQ(connects[0].host, L"target.example");
  EXPECT_EQ(connects[0].port, 8443);
  EXPECT_TRUE(connects[0].secure);
  EXPECT_EQ(connects[1].port, 80);
  EXPECT_FALSE(connects[1].secure);
  EXPECT_EQ(connects[2].port, 443);
}

TEST_F(Probe, EmptyUrlOrServerIsInvalidInput) {
  info_.url.clear();
  EXPECT_EQ(run(), PM_STATUS_INVALID_INPUT);
  info_.url = "http://t/";
  info_.server.clear();
  EXPECT_EQ(run(), PM_STATUS_INVALID_INPUT);
  EXPECT_TRUE(fake::winHttpRequest().sessions.empty());
  EXPECT_TRUE(proxyLogHas("[ERROR]   URL or Proxy server is empty!"));
}

// What the user types in the dialogs, one letter per dialog: g the good
// password, o the old one, 1 to 9 a typo of that number. A domain other than
// the proxy's host keeps the name as the store holds it.
std::vector<fake::DialogAnswer> typed(const char* letters) {
  std::vector<fake::DialogAnswer> answers;
  for (const char* l = letters; *l != '\0'; ++l) {
    const std::wstring password = *l == 'g'   ? L"good"
                                  : *l == 'o' ? L"old"
                                              : L"typo" + std::wstring(1, *l);
    answers.push_back({0, L"D\\ann", password});
  }
  return answers;
}

// Every path through the probe, and the requests it sends. The proxy offers
// Basic and takes D\ann/good only; "old" is a stored password it rejects.
// Whatever the credential manager and the user answer, no rejected
// credential goes to the proxy twice and a proxy collects at most three
// rejected ones per process, across all the lookups of a run.
struct PathCase {
  const char* name;
  bool caller;            // caller credentials u/pw, rejected
  const wchar_t* stored;  // ann's stored password, or null
  fake::StoreAnswers fromStore;
  const char* answers;  // typed in the dialogs
  bool silent;
  int lookups;
  int status;    // of the last lookup
  int requests;  // over all lookups
  int rejected;  // of them answered 407
  int shown;     // dialogs shown
};

using Paths = ProbeTable<PathCase>;

TEST_P(Paths, RequestsAreBounded) {
  const PathCase& c = GetParam();
  if (c.caller) callerCredentials();
  if (c.stored != nullptr) {
    fake::credentials().store[L"p1"] = {L"D\\ann", c.stored, L""};
  }
  fake::credentials().storeAnswers = c.fromStore;
  fake::credentials().dialogAnswers = typed(c.answers);
  proxy().offeredSchemes = kBasic;
  proxy().accepted = {{L"D\\ann", L"good"}};
  int status = -1;
  for (int i = 0; i < c.lookups; ++i) {
    info_.user = c.caller ? "u" : "";
    status = run(c.silent);
  }
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(fake::winHttpRequest().sends, c.requests);
  EXPECT_EQ(fake::winHttpRequest().proxyAuthRequired, c.rejected);
  EXPECT_EQ(static_cast<int>(fake::credentials().dialogTargets.size()),
            c.shown);
  std::set<std::pair<std::wstring, std::wstring>> sent;
  for (const auto& call : fake::winHttpRequest().credentials) {
    if (call.password == L"good") continue;
    EXPECT_TRUE(sent.insert({call.user, call.password}).second)
        << "sent twice: " << call.user;
  }
  // A dialog after a rejection is in its "incorrect password" state with
  // the rejected user filled in; a first one is plain.
  for (const fake::DialogCall& call : fake::credentials().dialogs) {
    EXPECT_EQ(call.authError == 0, call.prefilledUser.empty());
    EXPECT_TRUE(call.authError == 0 || call.authError == 1326u);
  }
}

using SA = fake::StoreAnswers;

INSTANTIATE_TEST_SUITE_P(
    All, Paths,
    ::testing::Values(
        PathCase{"StoredEntryAccepted", false, L"good", SA::never, "", false, 1,
                 0, 2, 1, 0},
        PathCase{"NothingStoredTypedAccepted", false, nullptr, SA::never, "g",
                 false, 1, 0, 2, 1, 1},
        PathCase{"CallerRejectedStoredAccepted", true, L"good", SA::never, "",
                 false, 1, 0, 3, 2, 0},
        // The flood: the store answers the dialog with the rejected entry.
        PathCase{"RejectedEntryStoreIgnoresShowFlags", false, L"old",
                 SA::always, "", false, 1, 2, 2, 2, 0},
        PathCase{"RejectedEntryDialogShownCancelled", false, L"old",
                 SA::unlessForced, "", false, 1, 5, 2, 2, 1},
        PathCase{"RejectedEntryDialogShownTyped", false, L"old",
                 SA::unlessForced, "g", false, 1, 0, 3, 2, 1},
        PathCase{"RejectedEntryUserTypesItAgain", false, L"old", SA::never, "o",
                 false, 1, 2, 2, 2, 1},
        PathCase{"RejectedEntrySilent", false, L"old", SA::always, "", true, 1,
                 6, 2, 2, 0},
        PathCase{"TyposAskAgainThenAnswer", false, nullptr, SA::never, "12g",
                 false, 1, 0, 4, 3, 3},
        PathCase{"ThreeTyposEndTheProbe", false, nullptr, SA::never, "123g",
                 false, 1, 2, 4, 4, 3},
        PathCase{"CallerStoredTypedAllRejected", true, L"old", SA::never, "1g",
                 false, 1, 2, 4, 4, 1},
        // A run's second lookup: what was rejected stays rejected.
        PathCase{"SecondLookupAfterThreeRejections", false, nullptr, SA::never,
                 "123", false, 2, 2, 5, 5, 3},
        PathCase{"SecondLookupStoreIgnoresShowFlags", false, L"old", SA::always,
                 "", false, 2, 2, 3, 3, 0},
        PathCase{"SecondLookupSilent", false, L"old", SA::always, "", true, 2,
                 6, 3, 3, 0},
        PathCase{"SecondLookupAfterTypedAccepted", false, L"old",
                 SA::unlessForced, "g", false, 2, 0, 5, 3, 1}),
    testing_support::CaseName());

TEST_F(Probe, RejectionIsLoggedOncePerProxyAndUser) {
  fake::credentials().dialogAnswers = typed("123");
  proxy().offeredSchemes = kBasic;
  EXPECT_EQ(run(), PM_STATUS_FAILURE);
  const std::string line =
      "Proxy server p1:8080 rejected the credentials of user D\\ann.";
  EXPECT_TRUE(proxyLogHas("[ERROR]   " + line));
  EXPECT_TRUE(proxyLogHas(
      "[ERROR]   Proxy server p1:8080 has rejected 3 credentials; no more "
      "are sent to it."));
  EXPECT_EQ(RejectedCredentials::OfThisProcess().TakeUnreported(),
            std::vector<std::string>{line});
  EXPECT_TRUE(RejectedCredentials::OfThisProcess().TakeUnreported().empty());
  EXPECT_FALSE(proxyLogMentions("typo"));
}

// The lookup driver over the candidates of a proxy list.
class Driver : public testing_support::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    fake::winHttpProxy().ie.proxy = L"p1:80;p2:81";
  }
  void TearDown() override {
    tsrnProxyDeallocate(&answer_);
    EXPECT_EQ(fake::winHttpRequest().openHandles, 0);
  }
  int ask(const char* user = nullptr, const char* password = nullptr,
          bool silent = false) {
    request_ = UserData{"http://target.example/", user, password, silent};
    return tsrnGetProxyInfo(&request_, &answer_);
  }
  static fake::FakeHttpProxy& proxy(const wchar_t* address) {
    return fake::winHttpRequest().proxies[address];
  }
  // The answer as "server:port user/password scheme", "<null>" for a null.
  std::string answered() const {
    const auto text = [](const char* value) {
      return std::string(value != nullptr ? value : "<null>");
    };
    return text(answer_.server) + ":" + text(answer_.serverPort) + " " +
           text(answer_.user) + "/" + text(answer_.password) + " " +
           std::to_string(answer_.authScheme);
  }

  UserData request_{};
  ProxyInfo answer_{};
};

TEST_F(Driver, UnreachableFirstCandidateGivesTheSecond) {
  proxy(L"p1:80").sendError = 12029;
  EXPECT_EQ(ask(), 0);
  EXPECT_EQ(answered(), "p2:81 / 0");
  EXPECT_EQ(fake::winHttpRequest().sessions,
            (std::vector<std::wstring>{L"p1:80", L"p2:81"}));
  EXPECT_TRUE(proxyLogHas(
      "[INFO]   Output: [server=p2 serverPort=81 user= password=**** "
      "authScheme=0]"));
}

TEST_F(Driver, CancelledDialogMovesOnToTheNextCandidate) {
  proxy(L"p1:80").offeredSchemes = kBasic;
  proxy(L"p2:81").offeredSchemes = kBasic;
  proxy(L"p2:81").accepted = {{L"u", L"pw"}};
  fake::credentials().dialogAnswers = {{1223, L"", L""}, {0, L"p2\\u", L"pw"}};
  EXPECT_EQ(ask(), 0);
  EXPECT_EQ(fake::credentials().dialogTargets,
            (std::vector<std::wstring>{L"p1", L"p2"}));
  EXPECT_EQ(answered(), "p2:81 u/pw 1");
  EXPECT_TRUE(proxyLogHas(
      "[DEBUG]   Authenticating proxy server detected with credentials "
      "[user=u password=****]"));
  EXPECT_TRUE(proxyLogHas(
      "[INFO]   Output: [server=p2 serverPort=81 user=u password=**** "
      "authScheme=1]"));
  EXPECT_FALSE(proxyLogMentions("=pw"));
}

TEST_F(Driver, SilentAnswerKeepsTheLastProxyThatAskedForCredentials) {
  proxy(L"p1:80").offeredSchemes = kNtlm | kNegotiate;
  proxy(L"p2:81").offeredSchemes = kDigest;
  EXPECT_EQ(ask(nullptr, nullptr, true), 6);
  EXPECT_EQ(answered(), "p2:81 <null>/<null> 2");
  EXPECT_TRUE(proxyLogHas("[DEBUG]   No VALID proxy servers detected."));
  EXPECT_TRUE(proxyLogHas("[INFO]   PMStatus:6"));
}

TEST_F(Driver, LastCandidatesStatusWhenNoneAnswers) {
  proxy(L"p1:80").offeredSchemes = kBasic;
  proxy(L"p2:81").sendError = 12029;
  EXPECT_EQ(ask(nullptr, nullptr, true), 2);
  // The silent answer of the first candidate stays for the caller to free.
  EXPECT_EQ(answered(), "p1:80 <null>/<null> 1");
}

TEST_F(Driver, CallerCredentialsComeBackAsFreshCopies) {
  proxy(L"p1:80").offeredSchemes = kNtlm | kNegotiate;
  proxy(L"p1:80").accepted = {{L"u", L"pw"}};
  std::string user = "u";
  std::string password = "pw";
  EXPECT_EQ(ask(user.c_str(), password.c_str()), 0);
  EXPECT_NE(answer_.user, user.c_str());
  EXPECT_NE(answer_.password, password.c_str());
  EXPECT_EQ(answered(), "p1:80 u/pw 4");
  EXPECT_TRUE(proxyLogHas("[INFO]   Input password:****"));
  EXPECT_EQ(fake::credentials().store[L"p1"].password, L"pw");
}

// Twenty proxies that take the connection and never answer.
std::wstring deadList() {
  std::wstring list;
  for (int i = 1; i <= 20; ++i) list += L"d" + std::to_wstring(i) + L":80;";
  return list;
}

TEST_F(Driver, LongListOfDeadProxiesStopsAtTheEighth) {
  fake::winHttpProxy().ie.proxy = deadList();
  fake::winHttpRequest().otherProxies.neverAnswers = true;
  const std::uint64_t start = fake::clock().monotonicMs;
  EXPECT_EQ(ask(), 2);
  EXPECT_EQ(fake::winHttpRequest().sessions.size(),
            ProxyManagerImplWin::kMaxCandidates);
  EXPECT_EQ(fake::clock().monotonicMs - start, 8u * 5000u);
  EXPECT_TRUE(proxyLogHas(
      "[INFO]   Only the first 8 proxy servers of the list are tried."));
  EXPECT_FALSE(proxyLogMentions("did not end within"));
}

// Slow proxies that reject the caller's credentials: each probe sends twice,
// and the deadline comes before the eighth candidate.
TEST_F(Driver, DeadlineEndsTheLookupWithStatus2) {
  fake::winHttpProxy().ie.proxy = deadList();
  fake::winHttpRequest().otherProxies.offeredSchemes = kBasic;
  fake::winHttpRequest().otherProxies.answerTakesMs = 5000;
  const std::uint64_t start = fake::clock().monotonicMs;
  EXPECT_EQ(ask("u", "pw", true), 2);
  EXPECT_EQ(fake::clock().monotonicMs - start, 60000u);
  EXPECT_EQ(fake::winHttpRequest().sessions.size(), 6u);
  EXPECT_TRUE(
      proxyLogHas("[ERROR]   Proxy lookup did not end within 60 seconds."));
  EXPECT_TRUE(proxyLogHas("[INFO]   PMStatus:2"));
}

// The minute the user spends in the credential dialog is not the lookup's:
// the next candidate still gets WinHTTP's full limits.
TEST_F(Driver, DialogTimeIsNotCounted) {
  fake::winHttpProxy().ie.proxy = L"d1:80;d2:80";
  proxy(L"d1:80").offeredSchemes = kBasic;
  proxy(L"d2:80").neverAnswers = true;
  fake::credentials().dialogAnswers = {{1223, L"", L"", 57000}};
  EXPECT_EQ(ask(), 2);
  const auto& limits = fake::winHttpRequest().timeouts;
  ASSERT_EQ(limits.size(), 2u);
  EXPECT_EQ(limits[1].receiveMs, 5000);
  EXPECT_FALSE(proxyLogMentions("did not end within"));
}

}  // namespace
