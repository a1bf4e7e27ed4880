// Shared by the fuzz targets: turning the raw input into fields, and the
// invariant check that makes a broken rule a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz_input {

// Aborts, so that libFuzzer reports the input, when an invariant fails.
inline void check(bool condition) {
  if (!condition) std::abort();
}

// The input read as UTF-16LE units split at NUL units into exactly `count`
// fields (missing ones empty, extra text joined to nothing).
inline std::vector<std::wstring> utf16Fields(const std::uint8_t* data,
                                             std::size_t size,
                                             std::size_t count) {
  std::vector<std::wstring> fields(1);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const auto unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (unit == L'\0') {
      fields.emplace_back();
    } else {
      fields.back().push_back(unit);
    }
  }
  fields.resize(count);
  return fields;
}

// The input split at NUL bytes into exactly `count` fields.
inline std::vector<std::string> byteFields(const std::uint8_t* data,
                                           std::size_t size,
                                           std::size_t count) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      fields.emplace_back();
    } else {
      fields.back().push_back(static_cast<char>(data[i]));
    }
  }
  fields.resize(count);
  return fields;
}

}  // namespace fuzz_input
