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

using testing_support::operator<<;
using testing_support::ProcessLog;

struct SplitCase {
  const char* name;
  const char* text;
  std::vector<std::string> pieces;
};

class SplitVersionTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitVersionTest, PiecesEndAtEachDot) {
  EXPECT_EQ(Util::splitVersion(GetParam().text), GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitVersionTest,
    ::testing::Values(
        SplitCase{"FourPieces", "1.2.3.4", {"1", "2", "3", "4"}},
        SplitCase{"EmptyPieceInside", "1..3.4", {"1", "", "3", "4"}},
        SplitCase{"TrailingDotDropped", "1.2.3.4.", {"1", "2", "3", "4"}},
        SplitCase{"LeadingEmptyPiece", ".1.2.3", {"", "1", "2", "3"}},
        SplitCase{"Empty", "", {}}, SplitCase{"DotAlone", ".", {""}},
        SplitCase{"TwoDots", "..", {"", ""}},
        SplitCase{"TwoTrailingDots", "1.2.3.4..", {"1", "2", "3", "4", ""}},
        SplitCase{"OnePiece", "6", {"6"}},
        SplitCase{"BlanksKept", " 6 . 1", {" 6 ", " 1"}},
        SplitCase{"AnyCharacters", "a.b-c.+d", {"a", "b-c", "+d"}}),
    testing_support::CaseName());

struct CompareCase {
  const char* name;
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
        CompareCase{"Newer", "6.1.33.0", "6.1.32.0", true},
        CompareCase{"Same", "6.1.32.0", "6.1.32.0", false},
        CompareCase{"OlderMinor", "6.0.99.99", "6.1.0.0", false},
        CompareCase{"NewerMajor", "7.0.0.0", "6.99.99.99", true},
        CompareCase{"Older", "6.1.32.0", "6.1.33.0", false},
        CompareCase{"NewerLastPiece", "0.0.0.1", "0.0.0.0", true},
        CompareCase{"OlderLastPiece", "0.0.0.0", "0.0.0.1", false},
        // Numbers, not text.
        CompareCase{"NumbersNotText", "6.1.100.0", "6.1.32.0", true},
        CompareCase{"LeadingZeroSameNumber", "6.1.032.0", "6.1.32.0", false},
        CompareCase{"LeadingZeroInReference", "6.1.32.0", "6.1.032.0", false},
        // Anything but four pieces on either side is never higher.
        CompareCase{"CandidateThreePieces", "6.1.33", "6.1.32.0", false},
        CompareCase{"ReferenceThreePieces", "6.1.33.0", "6.1.32", false},
        CompareCase{"CandidateFivePieces", "6.1.33.0.1", "6.1.32.0", false},
        CompareCase{"CandidateTwoFinalDots", "6.1.33.0..", "6.1.32.0", false},
        CompareCase{"CandidateEmpty", "", "6.1.32.0", false},
        CompareCase{"ReferenceEmpty", "6.1.32.0", "", false},
        CompareCase{"BothEmpty", "", "", false},
        // A final dot adds no piece; empty pieces count as 0.
        CompareCase{"FinalDotAddsNoPiece", "6.1.33.0.", "6.1.32.0", true},
        CompareCase{"EmptyPieceIsZero", "6..33.0", "6.0.32.0", true},
        CompareCase{"LeadingEmptyPiece", ".6.1.32", "0.6.1.31", true},
        CompareCase{"EmptyPieceAgainstZero", "6.1..0", "6.1.0.0", false},
        // Pieces are read as atoi reads them.
        CompareCase{"PlusSign", "+7.0.0.0", "6.0.0.0", true},
        CompareCase{"MinusSign", "-1.0.0.0", "0.0.0.0", false},
        CompareCase{"NegativeReferencePiece", "6.1.32.0", "6.1.32.-1", true},
        CompareCase{"LeadingSpace", " 7.0.0.0", "6.0.0.0", true},
        CompareCase{"SpaceInsidePiece", "6.1. 33.0", "6.1.32.0", true},
        CompareCase{"LettersAfterDigits", "6.1.33beta.0", "6.1.32.0", true},
        CompareCase{"LettersOnlyPiece", "6.1.x.0", "6.1.0.0", false},
        CompareCase{"LettersOnly", "a.b.c.d", "0.0.0.0", false},
        CompareCase{"SpaceSplitsDigits", "6.1.3 3.0", "6.1.32.0", false},
        // Out-of-range pieces are clamped, never undefined.
        CompareCase{"HugeClampedToIntMax", "6.1.99999999999.0",
                    "6.1.2147483647.0", false},
        CompareCase{"PastIntMaxClamped", "6.1.2147483648.0", "6.1.2147483646.0",
                    true},
        CompareCase{"HugeNegativeClampedToIntMin", "6.1.-99999999999.0",
                    "6.1.-2147483648.0", false}),
    testing_support::CaseName());

struct AtoiCase {
  const char* name;
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
        AtoiCase{"Empty", "", 0}, AtoiCase{"Zero", "0", 0},
        AtoiCase{"Plain", "42", 42}, AtoiCase{"LeadingSpaces", "  42", 42},
        AtoiCase{"LeadingControlWhitespace", "\t\n\v\f\r7", 7},
        AtoiCase{"PlusSign", "+5", 5}, AtoiCase{"Negative", "-5", -5},
        AtoiCase{"TrailingLetters", "2048abc", 2048},
        AtoiCase{"Letters", "abc", 0}, AtoiCase{"MinusAlone", "-", 0},
        AtoiCase{"PlusAlone", "+", 0}, AtoiCase{"SpaceAfterSign", "- 5", 0},
        AtoiCase{"TwoMinusSigns", "--5", 0},
        AtoiCase{"PlusThenMinus", "+-5", 0},
        AtoiCase{"SpaceInside", "12 34", 12}, AtoiCase{"HexPrefix", "0x1A", 0},
        AtoiCase{"Exponent", "1e3", 1},
        AtoiCase{"NonBreakingSpace",
                 "\xA0"
                 "5",
                 0},
        AtoiCase{"IntMax", "2147483647", INT_MAX},
        AtoiCase{"PastIntMax", "2147483648", INT_MAX},
        AtoiCase{"IntMin", "-2147483648", INT_MIN},
        AtoiCase{"PastIntMin", "-2147483649", INT_MIN},
        AtoiCase{"HugePositive", "99999999999999999999999999", INT_MAX},
        AtoiCase{"HugeNegative", "-99999999999999999999999999", INT_MIN},
        AtoiCase{"LeadingZeros", "00000000000000000000000000017", 17}),
    testing_support::CaseName());

}  // namespace
