#include "common/text.h"

#include <gtest/gtest.h>

#include "unit/test_support.h"

namespace {

using testing_support::operator<<;

TEST(NarrowLow8Test, KeepsLowByteOfEachUnit) {
  EXPECT_EQ(tsdlm::narrowLow8(L"abc"), "abc");
  // U+0141 (L with stroke) keeps 0x41; U+00E9 stays 0xE9.
  EXPECT_EQ(tsdlm::narrowLow8(L"\u0141\u00e9"), std::string("A\xE9"));
  EXPECT_EQ(tsdlm::widenBytes(std::string("A\xE9")), L"A\u00e9");
}

struct Utf8Case {
  const char* name;
  std::string utf8;
  bool valid;
  std::wstring utf16;
};

class Utf8ToUtf16Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToUtf16Test, ConvertsOrRejects) {
  std::wstring out = L"stale";
  EXPECT_EQ(tsdlm::utf8ToUtf16(GetParam().utf8, out), GetParam().valid);
  EXPECT_EQ(out, GetParam().utf16);
  if (GetParam().valid) {
    EXPECT_EQ(tsdlm::utf16ToUtf8(out), GetParam().utf8);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf8ToUtf16Test,
    ::testing::Values(
        Utf8Case{"Empty", "", true, L""},
        Utf8Case{"Ascii", "http://p:80/", true, L"http://p:80/"},
        Utf8Case{"TwoBytes", "caf\xC3\xA9", true, L"caf\u00e9"},
        Utf8Case{"ThreeBytes", "\xE2\x82\xAC", true, L"\u20ac"},
        Utf8Case{"LastOfThePlane", "\xEF\xBF\xBF", true, L"\uffff"},
        Utf8Case{"Truncated", "\xC3", false, L""},
        Utf8Case{"OverlongNul", "\xC0\x80", false, L""},
        Utf8Case{"Overlong", "\xE0\x80\xAF", false, L""},
        Utf8Case{"Surrogate", "\xED\xA0\x80", false, L""},
        Utf8Case{"BeyondThePlane", "\xF0\x9F\x98\x80", false, L""},
        Utf8Case{"LoneContinuation", "\x80", false, L""},
        Utf8Case{"ByteFF", "a\xFF", false, L""}),
    testing_support::CaseName());

TEST(Utf16ToUtf8Test, CombinesPairsAndReplacesLoneSurrogates) {
  const std::wstring pair = {wchar_t(0xD83D), wchar_t(0xDE00)};
  EXPECT_EQ(tsdlm::utf16ToUtf8(pair), "\xF0\x9F\x98\x80");
  EXPECT_EQ(tsdlm::utf16ToUtf8({wchar_t(0xDC00)}), "\xEF\xBF\xBD");
}

TEST(CaseTest, AsciiOnlyCaseFolding) {
  EXPECT_TRUE(tsdlm::equalsIgnoreCaseAscii(L"Proxy1", L"PROXY1"));
  EXPECT_FALSE(tsdlm::equalsIgnoreCaseAscii(L"proxy1", L"proxy"));
  EXPECT_FALSE(tsdlm::equalsIgnoreCaseAscii(L"\u00e9", L"\u00c9"));
  EXPECT_EQ(tsdlm::lowerAsciiLetters(L"AbZ\u00c9["), L"abz\u00c9[");
}

}  // namespace
