#include "common/int_text.h"

#include <climits>

namespace tsdlm {

namespace {

// The "C" locale's white space, spelled out: std::isspace depends on the
// locale and is undefined for negative char values.
bool isAtoiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

}  // namespace

int atoiClamped(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && isAtoiSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulated as a magnitude in a wider type; once past INT_MAX + 1 the
  // result is clamped whatever digits follow.
  const long long limit = static_cast<long long>(INT_MAX) + 1;
  long long magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude <= limit) magnitude = magnitude * 10 + (text[i] - '0');
  }
  if (negative)
    return magnitude >= limit ? INT_MIN : static_cast<int>(-magnitude);
  return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

}  // namespace tsdlm
