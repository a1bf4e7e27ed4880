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

const Damage kDamages[] = {
    {"Intact", [](auto&) {}, "6.1.33.0"},
    {"Pe32PlusIntact", [](auto& b) { toPe32Plus(b); }, "6.1.33.0"},
    // The magic decides the layout: PE32 offsets are not read for PE32+,
    // nor the other way round.
    {"Pe32PlusMagicOnPe32Layout", [](auto& b) { put16(b, kOptional, 0x20b); }},
    {"Pe32MagicOnPe32PlusLayout", [](auto& b) { toPe32Plus(b, 0x10b); }},
    {"Pe32PlusOptionalHeaderTooShort",
     [](auto& b) { toPe32Plus(b, 0x20b, 135); }},
    {"Empty", [](auto& b) { b.clear(); }},
    {"NotMz", [](auto& b) { b[0] = 'X'; }},
    {"HeaderPastTheEnd", [](auto& b) { put32(b, 0x3C, 0xFFFFFFF0u); }},
    {"NoPeSignature", [](auto& b) { b[kHeader] = 'N'; }},
    {"NoSections", [](auto& b) { put16(b, kHeader + 6, 0); }},
    {"TooManySections", [](auto& b) { put16(b, kHeader + 6, 97); }},
    {"UnknownMagic", [](auto& b) { put16(b, kOptional, 0x107); }},
    {"TwoDataDirectories", [](auto& b) { put32(b, kOptional + 92, 2); }},
    {"OptionalHeaderTooShort", [](auto& b) { put16(b, kHeader + 20, 100); }},
    {"NoResources", [](auto& b) { put32(b, kOptional + 112, 0); }},
    {"ResourcesOutsideTheSection",
     [](auto& b) { put32(b, kOptional + 116, 0x7FFFFFFF); }},
    {"SectionDataPastTheEnd",
     [](auto& b) { put32(b, kSection + 20, 0x7FFFFFF0); }},
    {"NoVersionType", [](auto& b) { put32(b, kTypeEntry, 3); }},
    {"TypeEntryIsData", [](auto& b) { put32(b, kTypeEntry + 4, 8); }},
    {"SubdirectoryOutside",
     [](auto& b) { put32(b, kTypeEntry + 4, 0x8FFFFFF0u); }},
    {"DirectoryPointsAtItself",
     [](auto& b) { put32(b, kNameDir + 20, 0x80000000u | (kNameDir - kRaw)); }},
    {"HugeEntryCount", [](auto& b) { put16(b, kNameDir + 14, 0xFFFF); }},
    {"LanguageIsDirectory",
     [](auto& b) { put32(b, kLangDir + 20, 0x80000000u | (kRaw - kRaw)); }},
    {"DataOutsideEverySection",
     [](auto& b) { put32(b, kDataEntry, 0x20000000u); }},
    {"DataTooShort", [](auto& b) { put32(b, kDataEntry + 4, 60); }},
    {"DataHuge", [](auto& b) { put32(b, kDataEntry + 4, 0x10000000u); }},
    {"WrongKey", [](auto& b) { put16(b, kVersion + 6, 'X'); }},
    {"ValueTooShort", [](auto& b) { put16(b, kVersion + 2, 20); }},
    {"WrongSignature", [](auto& b) { put32(b, kVersion + 40, 0xFEEF04BCu); }},
    {"CutInTheFixedInfo", [](auto& b) { b.resize(kVersion + 60); }},
};

INSTANTIATE_TEST_SUITE_P(Table, PeDamageTest, ::testing::ValuesIn(kDamages),
                         testing_support::CaseName());

}  // namespace
