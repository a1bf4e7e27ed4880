#include "config/pe_version.h"

#include <vector>

namespace {

constexpr std::uint32_t kPeSignature = 0x00004550u;  // "PE\0\0"
constexpr std::uint16_t kPe32 = 0x10b;
constexpr std::uint16_t kPe32Plus = 0x20b;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kVersionResourceType = 16;  // RT_VERSION
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
// The loader's own limit on sections; more is a malformed file.
constexpr std::uint16_t kMaxSections = 96;
// Far more than any real resource directory level holds.
constexpr std::uint32_t kMaxDirectoryEntries = 4096;
// A version resource is a few KiB; a larger one is not read.
constexpr std::uint32_t kMaxVersionResource = 64 * 1024;

// The little-endian number in the `size` bytes at `at`.
std::uint32_t littleEndian(const unsigned char* at, std::size_t size) {
  std::uint32_t value = 0;
  while (size-- > 0) value = (value << 8) | at[size];
  return value;
}

class PeReader {
 public:
  explicit PeReader(const ByteReader& read) : read_(read) {}

  bool bytes(std::uint64_t offset, void* out, std::size_t size) const {
    return read_(offset, out, size) == size;
  }
  // A 16- or 32-bit little-endian number.
  template <typename T>
  bool number(std::uint64_t offset, T& value) const {
    unsigned char b[sizeof(T)];
    if (!bytes(offset, b, sizeof b)) return false;
    value = static_cast<T>(littleEndian(b, sizeof b));
    return true;
  }

 private:
  const ByteReader& read_;
};

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t rawSize;
  std::uint32_t rawPointer;
};

// The file offset of `size` bytes at `rva`, when they lie whole within one
// section's data in the file.
bool rvaToOffset(const std::vector<Section>& sections, std::uint32_t rva,
                 std::uint32_t size, std::uint64_t& offset) {
  for (const Section& section : sections) {
    if (rva < section.virtualAddress) continue;
    const std::uint64_t into = rva - section.virtualAddress;
    if (into + size > section.rawSize) continue;
    offset = static_cast<std::uint64_t>(section.rawPointer) + into;
    return true;
  }
  return false;
}

// One entry of a resource directory level: the one with `id`, or the first
// entry of any name when `id` is null. Gives its data field.
bool findEntry(const PeReader& pe, std::uint64_t directory,
               const std::uint32_t* id, std::uint32_t& data) {
  std::uint16_t named = 0;
  std::uint16_t numbered = 0;
  if (!pe.number(directory + 12, named) ||
      !pe.number(directory + 14, numbered)) {
    return false;
  }
  const std::uint32_t count = static_cast<std::uint32_t>(named) + numbered;
  if (count == 0 || count > kMaxDirectoryEntries) return false;
  // Named entries come first; ids follow.
  const std::uint32_t first = id == nullptr ? 0 : named;
  for (std::uint32_t i = first; i < count; ++i) {
    const std::uint64_t entry = directory + 16 + 8ull * i;
    std::uint32_t name = 0;
    if (!pe.number(entry, name) || !pe.number(entry + 4, data)) return false;
    if (id == nullptr || name == *id) return true;
  }
  return false;
}

}  // namespace

std::string readPeFileVersion(const ByteReader& read) {
  const PeReader pe(read);
  std::uint16_t mz = 0;
  std::uint32_t header = 0;
  if (!pe.number(0, mz) || mz != 0x5A4D || !pe.number(0x3C, header)) return {};

  std::uint32_t signature = 0;
  std::uint16_t sectionCount = 0;
  std::uint16_t optionalSize = 0;
  std::uint16_t magic = 0;
  if (!pe.number(header, signature) || signature != kPeSignature ||
      !pe.number(header + 6ull, sectionCount) ||
      !pe.number(header + 20ull, optionalSize) ||
      !pe.number(header + 24ull, magic)) {
    return {};
  }
  if (sectionCount == 0 || sectionCount > kMaxSections) return {};
  if (magic != kPe32 && magic != kPe32Plus) return {};
  const std::uint32_t directoriesAt = magic == kPe32 ? 96 : 112;
  const std::uint64_t optional = header + 24ull;
  std::uint32_t directoryCount = 0;
  if (!pe.number(optional + directoriesAt - 4, directoryCount) ||
      directoryCount <= kResourceDirectoryIndex ||
      directoriesAt + 8 * (kResourceDirectoryIndex + 1) > optionalSize) {
    return {};
  }
  std::uint32_t resourceRva = 0;
  std::uint32_t resourceSize = 0;
  const std::uint64_t resourceEntry =
      optional + directoriesAt + 8 * kResourceDirectoryIndex;
  if (!pe.number(resourceEntry, resourceRva) ||
      !pe.number(resourceEntry + 4, resourceSize) || resourceRva == 0 ||
      resourceSize < 16) {
    return {};
  }

  std::vector<Section> sections;
  const std::uint64_t table = optional + optionalSize;
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    Section section{};
    const std::uint64_t at = table + 40ull * i;
    if (!pe.number(at + 12, section.virtualAddress) ||
        !pe.number(at + 16, section.rawSize) ||
        !pe.number(at + 20, section.rawPointer)) {
      return {};
    }
    sections.push_back(section);
  }

  // The whole resource directory must lie in one section; every offset in
  // it is then checked against its size.
  std::uint64_t base = 0;
  if (!rvaToOffset(sections, resourceRva, resourceSize, base)) return {};
  const auto inResources = [resourceSize](std::uint32_t offset,
                                          std::uint32_t size) {
    return offset <= resourceSize && size <= resourceSize - offset;
  };

  // Type, then name, then language: the first two levels lead to
  // subdirectories, the third to the data entry.
  std::uint32_t level = 0;
  const std::uint32_t versionType = kVersionResourceType;
  std::uint32_t data = 0;
  for (int depth = 0; depth < 3; ++depth) {
    if (!inResources(level, 16) ||
        !findEntry(pe, base + level, depth == 0 ? &versionType : nullptr,
                   data)) {
      return {};
    }
    const bool subdirectory = (data & kSubdirectoryFlag) != 0;
    if (subdirectory != (depth < 2)) return {};
    level = data & ~kSubdirectoryFlag;
  }
  if (!inResources(level, 16)) return {};
  std::uint32_t versionRva = 0;
  std::uint32_t versionSize = 0;
  if (!pe.number(base + level, versionRva) ||
      !pe.number(base + level + 4, versionSize) ||
      versionSize > kMaxVersionResource) {
    return {};
  }

  // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO", padding
  // to 32 bits, then the 52-byte VS_FIXEDFILEINFO.
  constexpr std::uint32_t kKeyAt = 6;
  constexpr std::uint32_t kFixedAt = 40;
  constexpr std::uint32_t kFixedSize = 52;
  if (versionSize < kFixedAt + kFixedSize) return {};
  std::uint64_t version = 0;
  if (!rvaToOffset(sections, versionRva, versionSize, version)) return {};
  std::vector<unsigned char> block(kFixedAt + kFixedSize);
  if (!pe.bytes(version, block.data(), block.size())) return {};
  const auto field = [&block](std::size_t at, std::size_t size) {
    return littleEndian(&block[at], size);
  };
  const char kKey[] = "VS_VERSION_INFO";
  for (std::size_t i = 0; i < sizeof kKey; ++i) {  // terminator included
    if (field(kKeyAt + 2 * i, 2) != static_cast<unsigned char>(kKey[i]))
      return {};
  }
  if (field(2, 2) < kFixedSize) return {};
  if (field(kFixedAt, 4) != kFixedFileInfoSignature) return {};
  const std::uint32_t high = field(kFixedAt + 8, 4);
  const std::uint32_t low = field(kFixedAt + 12, 4);
  return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) +
         "." + std::to_string(low >> 16) + "." + std::to_string(low & 0xFFFF);
}
