#include "common/text.h"

#include <cstdint>
#include <cstring>

namespace tsdlm {

namespace {

// A lead byte with the highest bits, then six bits in each continuation byte.
void appendUtf8(std::string& out, std::uint32_t cp) {
  static const std::uint32_t kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
  const int tail = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
  out.push_back(static_cast<char>(kLead[tail] | (cp >> (6 * tail))));
  for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6) {
    out.push_back(static_cast<char>(0x80 | ((cp >> shift) & 0x3F)));
  }
}

}  // namespace

std::string narrowLow8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t unit : text) {
    out.push_back(static_cast<char>(static_cast<std::uint32_t>(unit) & 0xFFu));
  }
  return out;
}

std::wstring widenBytes(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (char byte : text) {
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
  }
  return out;
}

bool utf8ToUtf16(const std::string& text, std::wstring& out) {
  out.clear();
  std::wstring result;
  result.reserve(text.size());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    // Four-byte forms lie beyond the Basic Multilingual Plane; the rest are
    // not UTF-8 at all.
    const std::size_t len = b0 < 0x80                  ? 1
                            : b0 >= 0xC2 && b0 <= 0xDF ? 2
                            : b0 >= 0xE0 && b0 <= 0xEF ? 3
                                                       : 0;
    if (len == 0 || i + len > n) return false;
    std::uint32_t cp = b0 & (len == 1 ? 0x7Fu : len == 2 ? 0x1Fu : 0x0Fu);
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0u) != 0x80u) return false;
      cp = (cp << 6) | (b & 0x3Fu);
    }
    if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) {
      return false;
    }
    result.push_back(static_cast<wchar_t>(cp));
    i += len;
  }
  out.swap(result);
  return true;
}

std::string utf16ToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t unit = static_cast<std::uint32_t>(text[i]) & 0xFFFFu;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
      const std::uint32_t next =
          static_cast<std::uint32_t>(text[i + 1]) & 0xFFFFu;
      if (next >= 0xDC00 && next <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
    appendUtf8(out, unit);
  }
  return out;
}

std::wstring lowerAsciiLetters(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

bool equalsIgnoreCaseAscii(const std::wstring& a, const std::wstring& b) {
  return lowerAsciiLetters(a) == lowerAsciiLetters(b);
}

std::string withoutControls(std::string text, const char* kept) {
  for (char& c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool control =
        byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0);
    if (control && (c == '\0' || std::strchr(kept, c) == nullptr)) c = '?';
  }
  return text;
}

std::string traceLine(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 1);
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") == 0) {
      out += "\r\n";
      ++i;
    } else if (text[i] == '\n' && i + 1 == text.size()) {
      out += "\r\n";
    } else {
      out += withoutControls(std::string(1, text[i]));
    }
  }
  return out;
}

}  // namespace tsdlm
