#include <windows.h>
#include <wincred.h>

#include <algorithm>
#include <vector>

#include "platform/credentials.h"
#include "platform/win32/owned.h"

namespace platform {

namespace {

// An entry CredReadW allocated.
struct CredentialKind {
  using Type = PCREDENTIALW;
  static void release(PCREDENTIALW credential) { CredFree(credential); }
};

constexpr DWORD kBufferUnits = 256;  // CREDUI_MAX_USERNAME_LENGTH + 1 and alike

void wipe(std::vector<wchar_t>& buffer) {
  SecureZeroMemory(buffer.data(), buffer.size() * sizeof(wchar_t));
}

}  // namespace

std::uint32_t promptForCredentials(const std::wstring& target,
                                   std::uint32_t authError, std::wstring& user,
                                   std::wstring& password) {
  std::vector<wchar_t> userBuffer(kBufferUnits, L'\0');
  std::vector<wchar_t> passwordBuffer(kBufferUnits, L'\0');
  user.copy(userBuffer.data(),
            std::min<std::size_t>(user.size(), kBufferUnits - 1));
  user.clear();
  password.clear();
  DWORD flags = CREDUI_FLAGS_DO_NOT_PERSIST | CREDUI_FLAGS_EXCLUDE_CERTIFICATES;
  // Without these the credential manager answers with the entry the proxy
  // just rejected, at once and as often as it is asked (Wine always does;
  // Windows does for a matching entry). ALWAYS_SHOW_UI is only accepted
  // together with GENERIC_CREDENTIALS.
  if (authError != 0) {
    flags |= CREDUI_FLAGS_INCORRECT_PASSWORD |
             CREDUI_FLAGS_GENERIC_CREDENTIALS | CREDUI_FLAGS_ALWAYS_SHOW_UI;
  }
  const DWORD result = CredUIPromptForCredentialsW(
      nullptr, target.c_str(), nullptr, authError, userBuffer.data(),
      kBufferUnits, passwordBuffer.data(), kBufferUnits, nullptr, flags);
  if (result == NO_ERROR) {
    user = userBuffer.data();
    password = passwordBuffer.data();
  }
  wipe(passwordBuffer);
  return result;
}

std::uint32_t parseUserName(const std::wstring& userName, std::wstring& user,
                            std::wstring& domain) {
  user.clear();
  domain.clear();
  std::vector<wchar_t> userBuffer(kBufferUnits, L'\0');
  std::vector<wchar_t> domainBuffer(kBufferUnits, L'\0');
  const DWORD result =
      CredUIParseUserNameW(userName.c_str(), userBuffer.data(), kBufferUnits,
                           domainBuffer.data(), kBufferUnits);
  if (result == NO_ERROR) {
    user = userBuffer.data();
    domain = domainBuffer.data();
  }
  return result;
}

bool writeGenericCredential(const std::wstring& target,
                            const std::wstring& user,
                            const std::wstring& password,
                            const std::wstring& comment) {
  // CredWriteW takes non-const strings; it does not change them.
  std::wstring targetName = target;
  std::wstring userName = user;
  std::wstring commentText = comment;
  std::vector<wchar_t> secret(password.begin(), password.end());
  CREDENTIALW credential{};
  credential.Type = CRED_TYPE_GENERIC;
  credential.TargetName = &targetName[0];
  credential.CredentialBlobSize =
      static_cast<DWORD>(secret.size() * sizeof(wchar_t));
  credential.CredentialBlob =
      secret.empty() ? nullptr : reinterpret_cast<LPBYTE>(secret.data());
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  credential.UserName = &userName[0];
  // Always a string, empty for none: Wine keeps the replaced entry's
  // comment when the new one has none.
  credential.Comment = &commentText[0];
  const BOOL written = CredWriteW(&credential, 0);
  const DWORD code = GetLastError();
  if (!secret.empty()) wipe(secret);
  SetLastError(code);
  return written != FALSE;
}

bool readGenericCredential(const std::wstring& target, std::wstring& user,
                           std::wstring& password, std::wstring& comment) {
  Owned<CredentialKind> read;
  if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, read.receive())) {
    return false;
  }
  const PCREDENTIALW credential = read.get();
  user = credential->UserName != nullptr ? credential->UserName : L"";
  const wchar_t* secret =
      reinterpret_cast<const wchar_t*>(credential->CredentialBlob);
  const std::size_t units = credential->CredentialBlobSize / sizeof(wchar_t);
  password.assign(secret != nullptr ? secret : L"",
                  secret != nullptr ? units : 0);
  comment = credential->Comment != nullptr ? credential->Comment : L"";
  return true;
}

}  // namespace platform
