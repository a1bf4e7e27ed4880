// Authenticode signature and publisher checks of a downloaded installer.
#pragma once

#include <cstdint>
#include <string>

// Asks the trust provider whether the file's embedded signature is valid and
// returns its status as a signed 32-bit value; 0 means valid. Writes one log
// entry naming the outcome: an ordinary entry for 0, an error entry for every
// other status. A message longer than 999 characters (only with an extremely
// long path) is cut there. Never throws.
[[nodiscard]] std::int32_t verifySignature(const std::wstring& path);

// True when the certificate that signed the file carries `subject` in its
// subject name (case-insensitive substring). Certificates that the signature
// merely carries besides the signer's do not count. Logs "has been found" on
// success and an error entry "can not be found" otherwise; a file without an
// embedded signature gives false with no entry. Never throws.
[[nodiscard]] bool verifyPublisher(const std::wstring& path,
                                   const std::wstring& subject);
