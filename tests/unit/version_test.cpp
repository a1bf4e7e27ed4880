// Version strings: splitting, comparison and the integer reading they share
// with the settings and the manifest.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "common/int_text.h"
#include "config/util.h"
#include "unit/process_log.h"
#include "unit/test_support.h"

namespace {

using testing_support::ProcessLog;

struct SplitCase {
  const char* text;
  std::vector<std::string> pieces;
};

class SplitVersionTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitVersionTest, PiecesEndAtEachDot) {
  EXPECT_EQ(Util::splitVersion(GetParam().text), GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitVersionTest,
    ::testing::Values(SplitCase{"1.2.3.4", {"1", "2", "3", "4"}},
                      SplitCase{"1..3.4", {"1", "", "3", "4"}},
                      SplitCase{"1.2.3.4.", {"1", "2", "3", "4"}},
                      SplitCase{".1.2.3", {"", "1", "2", "3"}},
                      SplitCase{"", {}}, SplitCase{".", {""}},
                      SplitCase{"..", {"", ""}},
                      SplitCase{"1.2.3.4..", {"1", "2", "3", "4", ""}},
                      SplitCase{"6", {"6"}}, SplitCase{" 6 . 1", {" 6 ", " 1"}},
                      SplitCase{"a.b-c.+d", {"a", "b-c", "+d"}}));

struct CompareCase {
  const char* candidate;
  const char* reference;
  bool higher;
};

using IsVersionHigherTest = testing_support::PlatformTableTest<CompareCase>;

TEST_P(IsVersionHigherTest, DecidesAndLogsTheComparisonFirst) {
  const CompareCase& c = GetParam();
  EXPECT_EQ(Util::isVersionHigher(c.candidate, c.reference), c.higher);
  // Written before any check, malformed versions included.
  EXPECT_EQ(ProcessLog::sinceMark(),
            std::string("2026-12-07 06:00:37  Compare Version: ") +
                c.candidate + " To: " + c.reference + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsVersionHigherTest,
    ::testing::Values(
        CompareCase{"6.1.33.0", "6.1.32.0", true},
        CompareCase{"6.1.32.0", "6.1.32.0", false},
        CompareCase{"6.0.99.99", "6.1.0.0", false},
        CompareCase{"7.0.0.0", "6.99.99.99", true},
        CompareCase{"6.1.32.0", "6.1.33.0", false},
        CompareCase{"0.0.0.1", "0.0.0.0", true},
        CompareCase{"0.0.0.0", "0.0.0.1", false},
        // Numbers, not text.
        CompareCase{"6.1.100.0", "6.1.32.0", true},
        CompareCase{"6.1.032.0", "6.1.32.0", false},
        CompareCase{"6.1.32.0", "6.1.032.0", false},
        // Anything but four pieces on either side is never higher.
        CompareCase{"6.1.33", "6.1.32.0", false},
        CompareCase{"6.1.33.0", "6.1.32", false},
        CompareCase{"6.1.33.0.1", "6.1.32.0", false},
        CompareCase{"6.1.33.0..", "6.1.32.0", false},
        CompareCase{"", "6.1.32.0", false}, CompareCase{"6.1.32.0", "", false},
        CompareCase{"", "", false},
        // A final dot adds no piece; empty pieces count as 0.
        CompareCase{"6.1.33.0.", "6.1.32.0", true},
        CompareCase{"6..33.0", "6.0.32.0", true},
        CompareCase{".6.1.32", "0.6.1.31", true},
        CompareCase{"6.1..0", "6.1.0.0", false},
        // Pieces are read as atoi reads them.
        CompareCase{"+7.0.0.0", "6.0.0.0", true},
        CompareCase{"-1.0.0.0", "0.0.0.0", false},
        CompareCase{"6.1.32.0", "6.1.32.-1", true},
        CompareCase{" 7.0.0.0", "6.0.0.0", true},
        CompareCase{"6.1. 33.0", "6.1.32.0", true},
        CompareCase{"6.1.33beta.0", "6.1.32.0", true},
        CompareCase{"6.1.x.0", "6.1.0.0", false},
        CompareCase{"a.b.c.d", "0.0.0.0", false},
        CompareCase{"6.1.3 3.0", "6.1.32.0", false},
        // Out-of-range pieces are clamped, never undefined.
        CompareCase{"6.1.99999999999.0", "6.1.2147483647.0", false},
        CompareCase{"6.1.2147483648.0", "6.1.2147483646.0", true},
        CompareCase{"6.1.-99999999999.0", "6.1.-2147483648.0", false}));

struct AtoiCase {
  const char* text;
  int value;
};

class AtoiClampedTest : public ::testing::TestWithParam<AtoiCase> {};

TEST_P(AtoiClampedTest, ReadsLikeAtoi) {
  EXPECT_EQ(tsdlm::atoiClamped(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AtoiClampedTest,
    ::testing::Values(
        AtoiCase{"", 0}, AtoiCase{"0", 0}, AtoiCase{"42", 42},
        AtoiCase{"  42", 42}, AtoiCase{"\t\n\v\f\r7", 7}, AtoiCase{"+5", 5},
        AtoiCase{"-5", -5}, AtoiCase{"2048abc", 2048}, AtoiCase{"abc", 0},
        AtoiCase{"-", 0}, AtoiCase{"+", 0}, AtoiCase{"- 5", 0},
        AtoiCase{"--5", 0}, AtoiCase{"+-5", 0}, AtoiCase{"12 34", 12},
        AtoiCase{"0x1A", 0}, AtoiCase{"1e3", 1},
        AtoiCase{"\xA0"
                 "5",
                 0},
        AtoiCase{"2147483647", INT_MAX}, AtoiCase{"2147483648", INT_MAX},
        AtoiCase{"-2147483648", INT_MIN}, AtoiCase{"-2147483649", INT_MIN},
        AtoiCase{"99999999999999999999999999", INT_MAX},
        AtoiCase{"-99999999999999999999999999", INT_MIN},
        AtoiCase{"00000000000000000000000000017", 17}));

}  // namespace
