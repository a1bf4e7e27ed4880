// The version reader on arbitrary bytes, as a downloaded installer may hold
// them: it must never read out of bounds, and an answer is always four
// numbers of at most 65535.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/util.h"
#include "config/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string version = readPeFileVersion(
      [data, size](std::uint64_t offset, void* out, std::size_t n) {
        if (offset >= size) return std::size_t{0};
        const std::size_t take = n < size - offset ? n : size - offset;
        std::memcpy(out, data + offset, take);
        return take;
      });
  if (!version.empty()) {
    if (Util::splitVersion(version).size() != 4) std::abort();
    for (const std::string& piece : Util::splitVersion(version)) {
      if (piece.empty() || piece.size() > 5 ||
          std::atoi(piece.c_str()) > 65535) {
        std::abort();
      }
    }
  }
  return 0;
}
