// Integer text read the way the C library's atoi reads it.
#pragma once

#include <string>

namespace tsdlm {

// Skips leading white space (space, \t, \n, \v, \f, \r), takes an optional
// sign and the decimal digits up to the first other character; text without
// digits gives 0. A number outside the range of int gives INT_MAX or INT_MIN
// (atoi itself has undefined behaviour there; the Windows CRT clamps).
int atoiClamped(const std::string& text);

}  // namespace tsdlm
