// Authenticode signature and publisher checks of a downloaded installer.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/trust.h"

// The publisher whose signature an installer must carry.
constexpr const wchar_t* kExpectedPublisher = L"Tessarin, Inc";

// Asks the trust provider whether the embedded signature of the held file
// is valid and returns its status as a signed 32-bit value; 0 means valid.
// `path` names the file in the log entry; the provider reads the file
// through the handle. `signer` receives the certificate the provider took
// as the signer. Writes one log entry naming the outcome: an ordinary entry
// for 0, an error entry for every other status. A message longer than 999
// characters (only with an extremely long path) is cut there. `entry`, when
// given, receives the entry's text. Never throws.
[[nodiscard]] std::int32_t verifySignature(const std::wstring& path,
                                           platform::HeldFile& file,
                                           platform::SignerIdentity& signer,
                                           std::string* entry = nullptr);

// True when the certificate that signed the file (as the trust provider
// took it) names the publisher: isPublisherName holds for one of its O or
// CN values, and the signature carries no second certificate with the
// signer's issuer and serial number. Logs "has been found" on success and
// an error entry "can not be found" otherwise; a file whose signer is not
// known (no embedded signature) gives false with no entry. `entry`, when
// given, receives the entry's text. Never throws.
[[nodiscard]] bool verifyPublisher(const platform::SignerIdentity& signer,
                                   const std::wstring& subject,
                                   std::string* entry = nullptr);

// The publisher rule for one name attribute: `value` equals `subject`,
// optionally followed by one ".", ignoring the case of the letters A to Z.
[[nodiscard]] bool isPublisherName(const std::wstring& value,
                                   const std::wstring& subject);
