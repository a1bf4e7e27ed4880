// The Windows credential dialog and the credential store, for proxy
// credentials. Passwords are handed over in wide strings only; nothing here
// logs.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Windows result codes the callers tell apart.
constexpr std::uint32_t kErrorCancelled = 1223;  // ERROR_CANCELLED

constexpr std::uint32_t kErrorLogonFailure = 1326;  // ERROR_LOGON_FAILURE

// CredUIPromptForCredentialsW with no dialog information (no owner window,
// the system's caption and message), `target` as target name, user and
// password buffers of 256 units, no save checkbox, flags
// CREDUI_FLAGS_DO_NOT_PERSIST | CREDUI_FLAGS_EXCLUDE_CERTIFICATES.
// `authError` 0: a first request, which the system may answer from its
// store without showing anything. Otherwise the dialog's "incorrect
// password" state: `authError` as the authentication error, and
// CREDUI_FLAGS_INCORRECT_PASSWORD | CREDUI_FLAGS_GENERIC_CREDENTIALS |
// CREDUI_FLAGS_ALWAYS_SHOW_UI added, so that the system shows the dialog
// instead of answering from its store. `user` comes in as the name to fill
// in (empty for none). Returns the call's result: 0 with `user` and
// `password` set, 1223 when the user cancelled; both outputs are empty
// otherwise.
[[nodiscard]] std::uint32_t promptForCredentials(const std::wstring& target,
                                                 std::uint32_t authError,
                                                 std::wstring& user,
                                                 std::wstring& password);

// CredUIParseUserNameW with user and domain buffers of 256 units. Returns the
// call's result; the outputs are empty unless it is 0.
[[nodiscard]] std::uint32_t parseUserName(const std::wstring& userName,
                                          std::wstring& user,
                                          std::wstring& domain);

// CredWriteW (flags 0) of a generic entry named `target`: the user name, the
// password's UTF-16 units without terminator as the secret, persisted for
// the local machine, `comment` as the comment (an empty one for none), no
// attributes or alias. Replaces an entry of the same target. False (last
// error kept) when the write fails.
[[nodiscard]] bool writeGenericCredential(const std::wstring& target,
                                          const std::wstring& user,
                                          const std::wstring& password,
                                          const std::wstring& comment);

// CredReadW (flags 0) of the generic entry named `target`, then CredFree.
// True with the entry's user name, its secret read as UTF-16 (size / 2
// units) and its comment (empty when it has none); false (outputs
// untouched) when there is none or the read fails.
[[nodiscard]] bool readGenericCredential(const std::wstring& target,
                                         std::wstring& user,
                                         std::wstring& password,
                                         std::wstring& comment);

}  // namespace platform
