#include "proxy/proxy_credentials.h"

#include <algorithm>

#include "common/text.h"
#include "platform/credentials.h"
#include "proxy/proxy_log.h"

namespace TSRN::ProxyManager {

namespace {

// Other readers of the store find the entry by its target name, type and
// persistence as before; the comment is free text to them.
constexpr const wchar_t* kSchemeMarker = L"TsrnProxyAuthScheme";

struct SchemeName {
  std::uint32_t scheme;
  const wchar_t* name;
};
constexpr SchemeName kSchemeNames[] = {{kSchemeBasic, L"Basic"},
                                       {kSchemeDigest, L"Digest"},
                                       {kSchemeNtlm, L"NTLM"}};

}  // namespace

std::wstring ProxyCredentials::SchemeComment(std::uint32_t scheme) {
  for (const SchemeName& known : kSchemeNames) {
    if (known.scheme == scheme) {
      return std::wstring(kSchemeMarker) + L"=" + known.name;
    }
  }
  return std::wstring();
}

std::uint32_t ProxyCredentials::SchemeOfComment(const std::wstring& comment) {
  const std::wstring lowered = tsdlm::lowerAsciiLetters(comment);
  if (lowered.find(tsdlm::lowerAsciiLetters(kSchemeMarker)) ==
      std::wstring::npos) {
    return kSchemeNone;
  }
  for (const SchemeName& known : kSchemeNames) {
    if (lowered == tsdlm::lowerAsciiLetters(SchemeComment(known.scheme))) {
      return known.scheme;
    }
  }
  // Our marker with a value we cannot read: the entry was saved for some
  // scheme, so it is kept for the strongest rather than sent in clear.
  return kSchemeNtlm;
}

PMStatus ProxyCredentials::ShowCredentialDialog(
    const std::wstring& host, std::wstring& user, std::wstring& password,
    const std::wstring& rejectedUser) {
  LogMessage(LOG_LEVEL_INFO, "Performing 'ShowCredentialDialog' ...");
  user.clear();
  password.clear();
  std::wstring entered = rejectedUser;
  std::wstring enteredPassword;
  const std::uint32_t result = platform::promptForCredentials(
      host, rejectedUser.empty() ? 0 : platform::kErrorLogonFailure, entered,
      enteredPassword);
  LogMessage(LOG_LEVEL_INFO, "ShowCredentialDialog response:%lu",
             static_cast<unsigned long>(result));
  if (result == platform::kErrorCancelled) {
    LogMessage(LOG_LEVEL_INFO, "User CANCELLED credential dialog!");
    return PM_STATUS_USER_CANCELLED;
  }
  if (result != 0) {
    LogMessage(LOG_LEVEL_ERROR,
               "CredUIPromptForCredentialsW() API failed. Error:%lu",
               static_cast<unsigned long>(result));
    return PM_STATUS_FAILURE;
  }
  std::wstring bareUser;
  std::wstring domain;
  const std::uint32_t parsed =
      platform::parseUserName(entered, bareUser, domain);
  if (parsed != 0) {
    LogMessage(LOG_LEVEL_ERROR, "CredUIParseUserNameW() API failed. Error:%lu",
               static_cast<unsigned long>(parsed));
    return PM_STATUS_FAILURE;
  }
  // "proxy1\user1" typed for the proxy host proxy1 names the proxy, not a
  // Windows domain: the proxy gets the bare user. A name without a domain
  // ("user@example") stays as it is, with no backslash in front.
  user = domain.empty() || tsdlm::equalsIgnoreCaseAscii(domain, host)
             ? bareUser
             : domain + L"\\" + bareUser;
  password = enteredPassword;
  return PM_STATUS_SUCCESS;
}

bool ProxyCredentials::StoreCredentials(const std::wstring& host,
                                        const std::wstring& user,
                                        const std::wstring& password,
                                        std::uint32_t scheme) {
  LogMessage(LOG_LEVEL_INFO,
             L"Performing 'StoreCredentials' for proxy server:%ls with "
             L"user:%ls",
             host.c_str(), user.c_str());
  if (host.empty() || user.empty()) return false;
  // A recorded scheme is never lowered: credentials that once worked with
  // NTLM keep that protection whatever later proxy of the host took them.
  std::wstring oldUser;
  std::wstring oldPassword;
  std::wstring oldComment;
  if (platform::readGenericCredential(host, oldUser, oldPassword, oldComment)) {
    scheme = std::max(scheme, SchemeOfComment(oldComment));
  }
  if (!platform::writeGenericCredential(host, user, password,
                                        SchemeComment(scheme))) {
    LogMessage(LOG_LEVEL_ERROR, "Failed to store credential !!!");
    return false;
  }
  LogMessage(LOG_LEVEL_INFO, "Successfully stored credential.");
  return true;
}

bool ProxyCredentials::LoadCredentials(const std::wstring& host,
                                       std::wstring& user,
                                       std::wstring& password,
                                       std::uint32_t& scheme) {
  LogMessage(LOG_LEVEL_INFO,
             L"Performing 'LoadCredentials' for proxy server:%ls with "
             L"user:%ls",
             host.c_str(), user.c_str());
  if (host.empty()) return false;
  std::wstring comment;
  if (!platform::readGenericCredential(host, user, password, comment)) {
    LogMessage(LOG_LEVEL_DEBUG, "No credential found.");
    return false;
  }
  scheme = SchemeOfComment(comment);
  LogMessage(LOG_LEVEL_INFO, "Successfully loaded credential.");
  return true;
}

}  // namespace TSRN::ProxyManager
