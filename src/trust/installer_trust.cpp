#include "trust/installer_trust.h"

std::int32_t verifySignature(const std::wstring&) {
  return static_cast<std::int32_t>(0x800B0100u);
}

bool verifyPublisher(const std::wstring&, const std::wstring&) { return false; }
