// The machine-local event store behind UsageUtil: one JSON object per line
// (UTF-8, LF) appended to a file and flushed at once.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class UsageStore {
 public:
  using PathProvider = std::function<std::wstring()>;
  using Clock = std::function<std::string()>;
  using SessionIdSource = std::function<std::string()>;

  // `storePath` names the events file (its folders are created on demand
  // by the provider); `utcNow` gives "YYYY-MM-DDTHH:MM:SSZ"; `newSessionId`
  // gives 32 hex digits.
  UsageStore(PathProvider storePath, Clock utcNow,
             SessionIdSource newSessionId);

  bool initialize(const std::wstring& product, bool collect);
  void addCommonAttribute(const std::wstring& name, const std::wstring& value);
  void track(const std::wstring& event, const std::wstring& key,
             const std::wstring& value);
  bool unInitialize();

  // One event line without its LF.
  static std::string formatEvent(
      const std::string& session, const std::string& time,
      const std::wstring& product, const std::wstring& event,
      const std::wstring& key, const std::wstring& value,
      const std::vector<std::pair<std::wstring, std::wstring>>& attributes);
  // A JSON string literal (quotes included) from UTF-16 text.
  static std::string jsonString(const std::wstring& text);

 private:
  std::mutex mutex_;
  PathProvider storePath_;
  Clock utcNow_;
  SessionIdSource newSessionId_;
  bool active_ = false;
  bool collect_ = false;
  std::string session_;
  std::wstring product_;
  std::vector<std::pair<std::wstring, std::wstring>> attributes_;
};
