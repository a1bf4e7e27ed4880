// Version splitting and comparison on arbitrary text. The input is split at
// its first newline into candidate and reference.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  const std::string candidate = input.substr(0, newline);
  const std::string reference =
      newline == std::string::npos ? std::string() : input.substr(newline + 1);

  const bool higher = Util::isVersionHigher(candidate, reference);
  // Strictly higher is never mutual and never holds for a version itself.
  if (higher && Util::isVersionHigher(reference, candidate)) std::abort();
  if (Util::isVersionHigher(candidate, candidate)) std::abort();

  std::size_t dots = 0;
  for (char c : candidate) dots += c == '.' ? 1 : 0;
  const std::size_t pieces = Util::splitVersion(candidate).size();
  // Every dot ends one piece; text after the last dot adds one more.
  const bool tail = !candidate.empty() && candidate.back() != '.';
  if (pieces != dots + (tail ? 1 : 0)) std::abort();
  return 0;
}
