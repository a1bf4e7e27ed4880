// Proxy lists in their Windows forms become ordered candidates for the
// target URL's scheme.
#include "proxy/proxy_list_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "fakes/fake_platform.h"
#include "unit/proxy_list_reference.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using TSRN::ProxyManager::ProxyCandidate;
using TSRN::ProxyManager::ProxyListParser;
using Candidates = std::vector<ProxyCandidate>;

struct ListCase {
  const char* name;
  std::wstring url;
  std::wstring list;
  bool understood;
  const char* candidates;  // server|port of each, ';' between them
};

using ProxyListTable = testing_support::PlatformTableTest<ListCase>;

TEST_P(ProxyListTable, GivesTheCandidatesInListOrder) {
  const ListCase& c = GetParam();
  Candidates found;
  EXPECT_EQ(ProxyListParser(c.url).FetchServerInfo(c.list, found),
            c.understood);
  std::string text;
  for (const ProxyCandidate& each : found) {
    text += (text.empty() ? "" : ";") + each.server + "|" + each.serverPort;
  }
  EXPECT_EQ(text, c.candidates);
}

const wchar_t kHttps[] = L"https://example.com/file";
const wchar_t kHttp[] = L"http://example.com/file";

INSTANTIATE_TEST_SUITE_P(
    Https, ProxyListTable,
    ::testing::Values(
        ListCase{"host_and_port", kHttps, L"proxyhost:8080", true,
                 "proxyhost|8080"},
        ListCase{"host_only", kHttps, L"proxyhost", true, "proxyhost|443"},
        ListCase{"two_entries", kHttps, L"p1:80;p2:81", true, "p1|80;p2|81"},
        ListCase{"empty_entry_and_final_separator", kHttps, L"p1:80;;p2:81;",
                 true, "p1|80;p2|81"},
        ListCase{"per_scheme_target_second", kHttps, L"http=p1:80;https=p2:443",
                 true, "p2|443"},
        ListCase{"per_scheme_target_first", kHttps, L"https=p2:443;http=p1:80",
                 true, "p2|443"},
        ListCase{"url_form", kHttps, L"https://p3:8443", true, "p3|8443"},
        ListCase{"ipv6_with_port", kHttps, L"[2001:db8::1]:3128", true,
                 "[2001:db8::1]|3128"},
        ListCase{"ipv6_bracketed", kHttps, L"[2001:db8::1]", true,
                 "[2001:db8::1]|443"},
        ListCase{"ipv6_bare", kHttps, L"2001:db8::1", true, "2001:db8::1|443"},
        ListCase{"blank_is_no_separator", kHttps, L"p1:80 p2:81", true,
                 "p1:80 p2:81|443"},
        ListCase{"no_entry_for_scheme", kHttps, L"http=p1:80;ftp=p2:21", false,
                 ""},
        ListCase{"scheme_with_nothing", kHttps, L"https=", false, ""},
        ListCase{"empty", kHttps, L"", false, ""},
        ListCase{"separators_only", kHttps, L";;;", true, ""},
        ListCase{"scheme_words_any_case", kHttps, L"HTTP=p1:80;HtTpS=p2:8",
                 true, "p2|8"},
        ListCase{"empty_host_keeps_port", kHttps, L":8080", true, "|8080"},
        ListCase{"trailing_colon_stays_in_host", kHttps, L"p1:", true,
                 "p1:|443"},
        ListCase{"ipv6_loopback_with_port", kHttps, L"[::1]:8888", true,
                 "[::1]|8888"},
        ListCase{"non_ascii_host", kHttps, L"pr\u00f6xy:81", true,
                 "pr\xc3\xb6xy|81"},
        ListCase{"line_end_means_no_scheme_prefix", kHttps,
                 L"https=p1:80\nhttp=p2", true, "https=p1|80\nhttp=p2"},
        ListCase{"scheme_word_later_cuts_list", kHttps,
                 L"https=p1:80;myftp=p2:21", true, "p1|80;my|443"}),
    testing_support::CaseName());

INSTANTIATE_TEST_SUITE_P(
    OtherSchemes, ProxyListTable,
    ::testing::Values(ListCase{"http_cut_at_https", kHttp,
                               L"http=p1:80;https=p2:443", true, "p1|80"},
                      ListCase{"http_default_port", kHttp, L"proxyhost", true,
                               "proxyhost|80"},
                      ListCase{"http_url_form_entry", kHttp, L"http://p1:3128",
                               true, "p1|3128"},
                      ListCase{"ftp_capitals", L"FTP://files.example.com/a",
                               L"proxyhost", true, "proxyhost|21"},
                      ListCase{"ftp_entry", L"ftp://files.example.com/a",
                               L"http=p1:80;ftp=p2:2121;https=p3", true,
                               "p2|2121"},
                      ListCase{"socks_default_port", L"socks://h", L"proxyhost",
                               true, "proxyhost|1080"},
                      ListCase{"no_scheme_is_https", L"example.com/file",
                               L"proxyhost", true, "proxyhost|443"},
                      ListCase{"other_scheme_is_https", L"gopher://example.com",
                               L"http=p1;https=p2", true, "p2|443"}),
    testing_support::CaseName());

struct TypeCase {
  const char* name;
  std::wstring url;
  std::wstring type;
  std::string port;
};

class ServerTypeTable : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ServerTypeTable, SchemeAndDefaultPort) {
  std::wstring type;
  std::string port;
  ProxyListParser::GetServerTypeStrAndDefaultPort(GetParam().url, type, port);
  EXPECT_EQ(type, GetParam().type);
  EXPECT_EQ(port, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ServerTypeTable,
    ::testing::Values(
        TypeCase{"Http", L"http://a", L"http", "80"},
        TypeCase{"UpperCaseHttp", L"HTTP://a", L"http", "80"},
        TypeCase{"Https", L"https://a", L"https", "443"},
        TypeCase{"MixedCaseFtp", L"Ftp://a", L"ftp", "21"},
        TypeCase{"Socks", L"socks://a", L"socks", "1080"},
        TypeCase{"OneSlashIsNoScheme", L"http:/a", L"https", "443"},
        TypeCase{"UnknownScheme", L"xhttp://a", L"https", "443"},
        TypeCase{"LineBreakInTheUrl", L"http://a\nb", L"https", "443"},
        TypeCase{"SchemeWithoutHost", L"http://", L"http", "80"},
        TypeCase{"Empty", L"", L"https", "443"}),
    testing_support::CaseName());

struct SplitCase {
  const char* name;
  std::wstring text;
  wchar_t separator;
  bool ok;
  std::vector<std::wstring> parts;
};

class SplitTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, ReadsDelimitedFields) {
  std::vector<std::wstring> parts{L"stale"};
  EXPECT_EQ(ProxyListParser::SplitString(GetParam().text, GetParam().separator,
                                         parts),
            GetParam().ok);
  EXPECT_EQ(parts, GetParam().parts);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, SplitTable,
    ::testing::Values(
        SplitCase{"EmptyText", L"", L';', false, {}},
        SplitCase{"NulDelimiter", L"a;b", L'\0', false, {}},
        SplitCase{"OneField", L"a", L';', true, {L"a"}},
        SplitCase{"DelimiterAlone", L";", L';', true, {L""}},
        SplitCase{"LeadingEmptyField", L";a", L';', true, {L"", L"a"}},
        SplitCase{"EmptyFieldInsideLastDelimiterDropped",
                  L"a;;b;",
                  L';',
                  true,
                  {L"a", L"", L"b"}},
        SplitCase{"TwoTrailingDelimiters", L"a;;", L';', true, {L"a", L""}},
        SplitCase{"ColonsOfAnIpv6Address",
                  L"[::1]:",
                  L':',
                  true,
                  {L"[", L"", L"1]"}}),
    testing_support::CaseName());

// The hand-written matcher agrees with the regular expressions on inputs
// chosen around their corners.
struct RegexCorner {
  const char* name;
  const wchar_t* input;
};

class MatchesRegexReference : public ::testing::TestWithParam<RegexCorner> {};

TEST_P(MatchesRegexReference, ExtractAndServerType) {
  const std::wstring input = GetParam().input;
  for (const wchar_t* type : {L"http", L"https", L"ftp", L"socks"}) {
    std::wstring mine = input;
    std::wstring theirs = input;
    const bool mineOk = ProxyListParser::ExtractServerData(type, mine);
    const bool theirsOk = proxy_reference::extract(type, theirs);
    EXPECT_EQ(mineOk, theirsOk) << tsdlm::utf16ToUtf8(type);
    if (mineOk && theirsOk) {
      EXPECT_TRUE(mine == theirs);
    }
  }
  std::wstring mineType, theirType;
  std::string minePort, theirPort;
  ProxyListParser::GetServerTypeStrAndDefaultPort(input, mineType, minePort);
  proxy_reference::serverType(input, theirType, theirPort);
  EXPECT_TRUE(mineType == theirType);
  EXPECT_EQ(minePort, theirPort);
}

INSTANTIATE_TEST_SUITE_P(
    Corners, MatchesRegexReference,
    ::testing::Values(
        RegexCorner{"OneEntry", L"https=a"},
        RegexCorner{"ThreeEntries", L"http=a;https=b;ftp=c"},
        RegexCorner{"PrefixedType", L"xhttps=a"},
        RegexCorner{"LineFeedBetween", L"https=a\nhttp=b"},
        RegexCorner{"CarriageReturnInside", L"https=a\rb"},
        RegexCorner{"SchemesInsteadOfTypes", L"ftp://x;https://y"},
        RegexCorner{"TypeCaseDiffers", L"socks=s;SOCKS=t"},
        RegexCorner{"RepeatedTypes", L"https=http=https="},
        RegexCorner{"OneSlashScheme", L"http:/a"},
        RegexCorner{"ColonBeforeEquals", L"https:=a"},
        RegexCorner{"EmptyValues", L"ftp=;https=;"},
        RegexCorner{"UpperCaseScheme", L"HTTPS://a:1"},
        RegexCorner{"LineFeedAfterSemicolon", L"https=a;\nhttps=b"},
        RegexCorner{"TrailingLineFeed", L"socks://h/\n"},
        RegexCorner{"LeadingEquals", L"=https=a"},
        RegexCorner{"NoSemicolonBetween", L"https=ahttp=b"},
        RegexCorner{"DoubledType", L"ftpftp=a"},
        RegexCorner{"ParagraphSeparator", L"http://\u2029x"},
        RegexCorner{"LineSeparator", L"https=a\u2028;http=b"}),
    testing_support::CaseName());

using ProxyListParserLongInput = testing_support::PlatformTest;

TEST_F(ProxyListParserLongInput, HugeListsNeitherCrashNorCrawl) {
  // A regex engine that recursed per character would exhaust the stack here.
  const std::wstring host(1 << 20, L'a');
  Candidates found;
  ASSERT_TRUE(
      ProxyListParser(kHttps).FetchServerInfo(L"https=" + host + L":1", found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].server.size(), host.size());

  std::wstring manySchemes;
  for (int i = 0; i < 100000; ++i) manySchemes += L"ftp=";
  found.clear();
  EXPECT_FALSE(ProxyListParser(kHttps).FetchServerInfo(manySchemes, found));
  EXPECT_TRUE(found.empty());

  std::wstring manyEntries;
  for (int i = 0; i < 100000; ++i) manyEntries += L"p:1;";
  found.clear();
  ASSERT_TRUE(ProxyListParser(kHttps).FetchServerInfo(manyEntries, found));
  EXPECT_EQ(found.size(), 100000u);
}

}  // namespace
