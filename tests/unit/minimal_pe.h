// A minimal PE32 file with a version resource, built in memory: read by the
// PE version tests (which damage it) and served as an installer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace testing_support::minimal_pe {

using Bytes = std::vector<unsigned char>;

inline void put16(Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}

// Offsets of the parts of the built file, for the damage below.
constexpr std::size_t kHeader = 0x40;
constexpr std::size_t kOptional = kHeader + 24;
constexpr std::size_t kSection = kOptional + 224;
constexpr std::size_t kRaw = 0x200;            // the resource section's data
constexpr std::uint32_t kRva = 0x1000;         // and its address
constexpr std::size_t kTypeEntry = kRaw + 16;  // RT_VERSION's entry
constexpr std::size_t kNameDir = kRaw + 24;
constexpr std::size_t kLangDir = kRaw + 48;
constexpr std::size_t kDataEntry = kRaw + 72;
constexpr std::size_t kVersion = kRaw + 88;  // VS_VERSIONINFO

// A PE32 file with one section holding a resource directory whose only
// resource is a version of 6.1.33.0.
inline Bytes buildPe() {
  Bytes b(kVersion + 40 + 52 + 16, 0);
  put16(b, 0, 0x5A4D);
  put32(b, 0x3C, kHeader);
  put32(b, kHeader, 0x00004550);
  put16(b, kHeader + 6, 1);      // one section
  put16(b, kHeader + 20, 224);   // optional header size
  put16(b, kOptional, 0x10b);    // PE32
  put32(b, kOptional + 92, 16);  // data directories
  put32(b, kOptional + 96 + 16, kRva);
  put32(b, kOptional + 96 + 20, static_cast<std::uint32_t>(b.size() - kRaw));
  std::memcpy(&b[kSection], ".rsrc", 5);
  put32(b, kSection + 8, static_cast<std::uint32_t>(b.size() - kRaw));
  put32(b, kSection + 12, kRva);
  put32(b, kSection + 16, static_cast<std::uint32_t>(b.size() - kRaw));
  put32(b, kSection + 20, kRaw);
  // Type level: one id entry, 16, to the name level.
  put16(b, kRaw + 14, 1);
  put32(b, kTypeEntry, 16);
  put32(b, kTypeEntry + 4, 0x80000000u | (kNameDir - kRaw));
  put16(b, kNameDir + 14, 1);
  put32(b, kNameDir + 16, 1);
  put32(b, kNameDir + 20, 0x80000000u | (kLangDir - kRaw));
  put16(b, kLangDir + 14, 1);
  put32(b, kLangDir + 16, 0x409);
  put32(b, kLangDir + 20, static_cast<std::uint32_t>(kDataEntry - kRaw));
  put32(b, kDataEntry, static_cast<std::uint32_t>(kRva + (kVersion - kRaw)));
  put32(b, kDataEntry + 4, 40 + 52);
  put16(b, kVersion, 40 + 52);
  put16(b, kVersion + 2, 52);
  const char key[] = "VS_VERSION_INFO";
  for (std::size_t i = 0; i < sizeof key; ++i)
    put16(b, kVersion + 6 + 2 * i, key[i]);
  put32(b, kVersion + 40, 0xFEEF04BDu);
  put32(b, kVersion + 48, (6u << 16) | 1u);
  put32(b, kVersion + 52, 33u << 16);
  return b;
}

}  // namespace testing_support::minimal_pe
