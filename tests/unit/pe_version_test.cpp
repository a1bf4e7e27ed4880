// The file version read from a PE file's own bytes: a minimal executable
// built here, then damaged in every structure the reader walks.
#include "config/pe_version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "unit/minimal_pe.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using namespace testing_support::minimal_pe;
// The same file with a PE32+ optional header: 16 bytes longer (a 64-bit
// image base and stack and heap sizes), so the data directories and the
// section table after it sit 16 bytes further on. Nothing of the PE32
// layout is left where the reader could find it. `magic` and `size` as given.
void toPe32Plus(Bytes& b, unsigned magic = 0x20b, unsigned size = 240) {
  std::memmove(&b[kSection + 16], &b[kSection], 40);
  std::memset(&b[kOptional + 92], 0, kSection + 16 - (kOptional + 92));
  put16(b, kOptional, magic);
  put16(b, kHeader + 20, size);
  put32(b, kOptional + 108, 16);
  put32(b, kOptional + 112 + 16, kRva);
  put32(b, kOptional + 112 + 20, static_cast<std::uint32_t>(b.size() - kRaw));
}

std::string versionOf(const Bytes& file) {
  return readPeFileVersion(
      [&file](std::uint64_t offset, void* out, std::size_t size) {
        if (offset >= file.size()) return std::size_t{0};
        const std::size_t n = std::min<std::size_t>(size, file.size() - offset);
        std::memcpy(out, file.data() + offset, n);
        return n;
      });
}

struct Damage {
  const char* name;
  std::function<void(Bytes&)> apply;
  const char* version = "";  // what is read from the changed file
};

class PeDamageTest : public ::testing::TestWithParam<Damage> {};

// An intact file of either layout gives its version; every damaged file gives
// none, and nothing is read out of bounds (the sanitizer builds run this too).
TEST_P(PeDamageTest, VersionOnlyFromAnIntactFile) {
  Bytes file = buildPe();
  GetParam().apply(file);
  EXPECT_EQ(versionOf(file), GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PeDamageTest,
    ::testing::Values(
        Damage{"Intact", [](Bytes&) {}, "6.1.33.0"},
        Damage{"Pe32PlusIntact", [](Bytes& b) { toPe32Plus(b); }, "6.1.33.0"},
        // The magic decides the layout: PE32 offsets are not read for PE32+,
        // nor the other way round.
        Damage{"Pe32PlusMagicOnPe32Layout",
               [](Bytes& b) { put16(b, kOptional, 0x20b); }},
        Damage{"Pe32MagicOnPe32PlusLayout",
               [](Bytes& b) { toPe32Plus(b, 0x10b); }},
        Damage{"Pe32PlusOptionalHeaderTooShort",
               [](Bytes& b) { toPe32Plus(b, 0x20b, 135); }},
        Damage{"Empty", [](Bytes& b) { b.clear(); }},
        Damage{"NotMz", [](Bytes& b) { b[0] = 'X'; }},
        Damage{"HeaderPastTheEnd",
               [](Bytes& b) { put32(b, 0x3C, 0xFFFFFFF0u); }},
        Damage{"NoPeSignature", [](Bytes& b) { b[kHeader] = 'N'; }},
        Damage{"NoSections", [](Bytes& b) { put16(b, kHeader + 6, 0); }},
        Damage{"TooManySections", [](Bytes& b) { put16(b, kHeader + 6, 97); }},
        Damage{"UnknownMagic", [](Bytes& b) { put16(b, kOptional, 0x107); }},
        Damage{"TwoDataDirectories",
               [](Bytes& b) { put32(b, kOptional + 92, 2); }},
        Damage{"OptionalHeaderTooShort",
               [](Bytes& b) { put16(b, kHeader + 20, 100); }},
        Damage{"NoResources", [](Bytes& b) { put32(b, kOptional + 112, 0); }},
        Damage{"ResourcesOutsideTheSection",
               [](Bytes& b) { put32(b, kOptional + 116, 0x7FFFFFFF); }},
        Damage{"SectionDataPastTheEnd",
               [](Bytes& b) { put32(b, kSection + 20, 0x7FFFFFF0); }},
        Damage{"NoVersionType", [](Bytes& b) { put32(b, kTypeEntry, 3); }},
        Damage{"TypeEntryIsData",
               [](Bytes& b) { put32(b, kTypeEntry + 4, 8); }},
        Damage{"SubdirectoryOutside",
               [](Bytes& b) { put32(b, kTypeEntry + 4, 0x8FFFFFF0u); }},
        Damage{"DirectoryPointsAtItself",
               [](Bytes& b) {
                 put32(b, kNameDir + 20, 0x80000000u | (kNameDir - kRaw));
               }},
        Damage{"HugeEntryCount",
               [](Bytes& b) { put16(b, kNameDir + 14, 0xFFFF); }},
        Damage{"LanguageIsDirectory",
               [](Bytes& b) {
                 put32(b, kLangDir + 20, 0x80000000u | (kRaw - kRaw));
               }},
        Damage{"DataOutsideEverySection",
               [](Bytes& b) { put32(b, kDataEntry, 0x20000000u); }},
        Damage{"DataTooShort", [](Bytes& b) { put32(b, kDataEntry + 4, 60); }},
        Damage{"DataHuge",
               [](Bytes& b) { put32(b, kDataEntry + 4, 0x10000000u); }},
        Damage{"WrongKey", [](Bytes& b) { put16(b, kVersion + 6, 'X'); }},
        Damage{"ValueTooShort", [](Bytes& b) { put16(b, kVersion + 2, 20); }},
        Damage{"WrongSignature",
               [](Bytes& b) { put32(b, kVersion + 40, 0xFEEF04BCu); }},
        Damage{"CutInTheFixedInfo", [](Bytes& b) { b.resize(kVersion + 60); }}),
    testing_support::CaseName());

}  // namespace
