// Text helpers shared by every subsystem.
//
// Wide strings hold UTF-16 code units (one unit per wchar_t, also where
// wchar_t is 32 bits wide); narrow strings hold bytes.
#pragma once

#include <string>

namespace tsdlm {

// Keeps the low 8 bits of each UTF-16 code unit. No code-page conversion:
// this is how the updater turns wide text into log text.
std::string narrowLow8(const std::wstring& text);

// Widens each byte to one code unit (the inverse of narrowLow8 for bytes).
std::wstring widenBytes(const std::string& text);

// Strict UTF-8 to UTF-16 conversion limited to the Basic Multilingual Plane.
// Returns false for invalid UTF-8 (overlong forms, surrogates, truncated
// sequences) and for characters beyond U+FFFF; `out` is then empty.
[[nodiscard]] bool utf8ToUtf16(const std::string& text, std::wstring& out);

// UTF-16 to UTF-8. Surrogate pairs are combined; a lone surrogate becomes
// U+FFFD.
std::string utf16ToUtf8(const std::wstring& text);

// Case-insensitive equality: same length and every pair of units equal after
// upper-casing the letters a to z.
bool equalsIgnoreCaseAscii(const std::wstring& a, const std::wstring& b);

// Lower-cases the letters A to Z only; every other unit stays as it is.
std::wstring lowerAsciiLetters(std::wstring text);

// Text from outside (a server, a manifest) as a terminal may show it: each
// control character, C0 and C1, becomes "?", except those in `kept`.
std::string withoutControls(std::string text, const char* kept = "");

// A line of a trace from outside, as a terminal may show it: CR LF pairs
// pass and every other control character, a lone CR or LF and a tab
// included, becomes "?"; a lone LF at the very end (libcurl's own texts end
// so) becomes CR LF. A lone CR would send the terminal back to the start of
// the line, for the rest to overwrite what was shown.
std::string traceLine(const std::string& text);

}  // namespace tsdlm
