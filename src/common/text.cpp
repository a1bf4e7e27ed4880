#include "common/text.h"

#include <cstdint>
#include <cstring>

namespace tsdlm {

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
    std::uint32_t cp = 0;
    std::size_t len = 0;
    if (b0 < 0x80) {
      cp = b0;
      len = 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      cp = b0 & 0x1Fu;
      len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      cp = b0 & 0x0Fu;
      len = 3;
    } else {
      // Four-byte forms lie beyond the Basic Multilingual Plane; the rest
      // are not UTF-8 at all.
      return false;
    }
    if (i + len > n) return false;
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

namespace {

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

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

namespace {

wchar_t upperAscii(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace

bool equalsIgnoreCaseAscii(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  }
  return true;
}

std::wstring lowerAsciiLetters(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
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
