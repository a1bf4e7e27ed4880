// Authenticode signature and publisher checks of a downloaded installer.
#pragma once

#include <cstdint>
#include <string>

// The trust provider's status for the file's embedded signature; 0 means
// valid. Logs one entry describing the outcome.
std::int32_t verifySignature(const std::wstring& path);

// True when the certificate that signed the file carries `subject` in its
// subject name (case-insensitive substring). Logs the finding.
bool verifyPublisher(const std::wstring& path, const std::wstring& subject);
