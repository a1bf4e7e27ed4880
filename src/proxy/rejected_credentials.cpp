#include "proxy/rejected_credentials.h"

#include <algorithm>

#include "common/text.h"
#include "proxy/proxy_log.h"

namespace TSRN::ProxyManager {

namespace {

// A process that is never asked for its report keeps this many lines only.
constexpr std::size_t kMaxUnreported = 16;

}  // namespace

RejectedCredentials& RejectedCredentials::OfThisProcess() {
  static RejectedCredentials memory;
  return memory;
}

std::string RejectedCredentials::RejectionText(const std::wstring& proxy,
                                               const std::wstring& user) {
  return "Proxy server " + tsdlm::utf16ToUtf8(proxy) +
         " rejected the credentials of user " + tsdlm::utf16ToUtf8(user) + ".";
}

void RejectedCredentials::Add(const std::wstring& proxy,
                              const std::wstring& user,
                              const std::wstring& password) {
  const std::lock_guard<std::mutex> hold(lock_);
  rejected_.emplace_back(proxy, user, password);
  if (!reported_.insert({proxy, user}).second) return;
  const std::string text = RejectionText(proxy, user);
  LogMessage(LOG_LEVEL_ERROR, "%s", text.c_str());
  if (unreported_.size() < kMaxUnreported) unreported_.push_back(text);
}

bool RejectedCredentials::Contains(const std::wstring& proxy,
                                   const std::wstring& user,
                                   const std::wstring& password) const {
  const std::lock_guard<std::mutex> hold(lock_);
  return std::find(rejected_.begin(), rejected_.end(),
                   Entry(proxy, user, password)) != rejected_.end();
}

std::size_t RejectedCredentials::CountFor(const std::wstring& proxy) const {
  const std::lock_guard<std::mutex> hold(lock_);
  return static_cast<std::size_t>(
      std::count_if(rejected_.begin(), rejected_.end(),
                    [&](const Entry& e) { return std::get<0>(e) == proxy; }));
}

void RejectedCredentials::Forget(const std::wstring& proxy) {
  const std::lock_guard<std::mutex> hold(lock_);
  rejected_.erase(
      std::remove_if(rejected_.begin(), rejected_.end(),
                     [&](const Entry& e) { return std::get<0>(e) == proxy; }),
      rejected_.end());
}

std::vector<std::string> RejectedCredentials::TakeUnreported() {
  const std::lock_guard<std::mutex> hold(lock_);
  std::vector<std::string> taken;
  taken.swap(unreported_);
  return taken;
}

void RejectedCredentials::Clear() {
  const std::lock_guard<std::mutex> hold(lock_);
  rejected_.clear();
  reported_.clear();
  unreported_.clear();
}

}  // namespace TSRN::ProxyManager
