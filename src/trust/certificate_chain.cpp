#include "trust/certificate_chain.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// Bits of CERT_TRUST_STATUS dwErrorStatus.
constexpr std::uint32_t kNotTimeValid = 0x1;
constexpr std::uint32_t kNotTimeNested = 0x2;
constexpr std::uint32_t kNotSignatureValid = 0x8;
constexpr std::uint32_t kNotValidForUsage = 0x10;
constexpr std::uint32_t kUntrustedRoot = 0x20;
constexpr std::uint32_t kRevocationUnknown = 0x40;
constexpr std::uint32_t kInvalidBasicConstraints = 0x400;
constexpr std::uint32_t kPartialChain = 0x10000;
constexpr std::uint32_t kOfflineRevocation = 0x1000000;

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerWithoutFinalDot(std::string name) {
  for (char& c : name) c = lower(c);
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

// One certificate name against a DNS host name, both lower case without a
// final dot.
bool dnsNameMatches(const std::string& pattern, const std::string& host) {
  if (pattern.empty() || host.empty()) return false;
  if (pattern.find('\0') != std::string::npos) return false;
  if (pattern.compare(0, 2, "*.") != 0) return pattern == host;
  // "*.b.example": the rest holds at least two labels, none empty.
  const std::string rest = pattern.substr(1);  // ".b.example"
  if (rest.find('.', 1) == std::string::npos ||
      rest.find("..") != std::string::npos ||
      rest.find('*') != std::string::npos) {
    return false;
  }
  const std::size_t firstDot = host.find('.');
  return firstDot != std::string::npos && firstDot > 0 &&
         host.substr(firstDot) == rest;
}

bool decimalByte(const std::string& text, std::string& out) {
  if (text.empty() || text.size() > 3) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > 255 || (text.size() > 1 && text[0] == '0')) return false;
  out += static_cast<char>(value);
  return true;
}

std::string ipv4Bytes(const std::string& text) {
  std::string bytes;
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t end = part < 3 ? text.find('.', start) : text.size();
    if (end == std::string::npos ||
        !decimalByte(text.substr(start, end - start), bytes)) {
      return std::string();
    }
    start = end + 1;
  }
  return bytes;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "2001:db8::1", an IPv4 tail allowed ("::ffff:1.2.3.4").
std::string ipv6Bytes(const std::string& text) {
  std::string head, tail;  // the bytes before and after "::"
  bool compressed = false;
  std::size_t i = 0;
  if (text.compare(0, 2, "::") == 0) {
    compressed = true;
    i = 2;
  }
  while (i < text.size()) {
    std::string& out = compressed ? tail : head;
    const std::size_t end = text.find(':', i);
    const std::string group =
        text.substr(i, end == std::string::npos ? std::string::npos : end - i);
    if (group.find('.') != std::string::npos) {
      if (end != std::string::npos) return std::string();
      const std::string v4 = ipv4Bytes(group);
      if (v4.empty()) return std::string();
      out += v4;
      break;
    }
    if (group.empty() || group.size() > 4) return std::string();
    int value = 0;
    for (char c : group) {
      const int digit = hexValue(c);
      if (digit < 0) return std::string();
      value = value * 16 + digit;
    }
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value & 0xff);
    if (end == std::string::npos) break;
    i = end + 1;
    if (i < text.size() && text[i] == ':') {
      if (compressed) return std::string();
      compressed = true;
      ++i;
    } else if (i == text.size()) {
      return std::string();  // a trailing single ":"
    }
  }
  const std::size_t given = head.size() + tail.size();
  if (given > 16 || (!compressed && given != 16) ||
      (compressed && given == 16)) {
    return std::string();
  }
  return head + std::string(16 - given, '\0') + tail;
}

}  // namespace

ChainVerdict judgeChain(const platform::CertificateChain& chain, ChainUse use) {
  if (!chain.built || chain.elements.empty())
    return ChainVerdict::kSystemFailed;
  std::uint32_t status =
      chain.errorStatus & ~(kRevocationUnknown | kOfflineRevocation);
  if (use == ChainUse::kCodeSigning)
    status &= ~(kNotTimeValid | kNotTimeNested);
  if ((status & kPartialChain) != 0 || !chain.rootSelfIssued) {
    return ChainVerdict::kPartialChain;
  }
  if ((status & kNotSignatureValid) != 0) return ChainVerdict::kBadSignature;
  for (const platform::ChainElement& element : chain.elements) {
    if (!element.signatureValid) return ChainVerdict::kBadSignature;
  }
  if ((status & kInvalidBasicConstraints) != 0) return ChainVerdict::kNotCa;
  for (std::size_t i = 1; i + 1 < chain.elements.size(); ++i) {
    if (!chain.elements[i].isCa) return ChainVerdict::kNotCa;
  }
  if ((status & kUntrustedRoot) != 0 || !chain.rootInStore) {
    return ChainVerdict::kUntrustedRoot;
  }
  if ((status & kNotValidForUsage) != 0 || !chain.usageAllowed) {
    return ChainVerdict::kWrongUsage;
  }
  return status == 0 ? ChainVerdict::kTrusted : ChainVerdict::kOtherError;
}

std::string ipAddressBytes(const std::string& host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    return ipv6Bytes(host.substr(1, host.size() - 2));
  }
  return ipv4Bytes(host);
}

bool namesHost(const platform::CertificateNames& names,
               const std::string& host) {
  const std::string address = ipAddressBytes(host);
  if (!address.empty()) {
    const std::vector<std::string>& entries = names.ipAddresses;
    return std::find(entries.begin(), entries.end(), address) != entries.end();
  }
  const std::string wanted = lowerWithoutFinalDot(host);
  if (wanted.empty() || wanted.find('[') != std::string::npos) return false;
  const std::vector<std::string>& candidates =
      names.hasAltNames ? names.dnsNames : names.commonNames;
  for (const std::string& name : candidates) {
    if (dnsNameMatches(lowerWithoutFinalDot(name), wanted)) return true;
  }
  return false;
}
