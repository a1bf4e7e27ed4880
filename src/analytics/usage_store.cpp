#include "analytics/usage_store.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "platform/files.h"

UsageStore::UsageStore(PathProvider storePath, Clock utcNow,
                       SessionIdSource newSessionId)
    : storePath_(std::move(storePath)),
      utcNow_(std::move(utcNow)),
      newSessionId_(std::move(newSessionId)) {}

bool UsageStore::initialize(const std::wstring& product, bool collect) {
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = true;
  collect_ = collect;
  session_ = newSessionId_();
  product_ = product;
  attributes_.clear();
  return true;
}

void UsageStore::addCommonAttribute(const std::wstring& name,
                                    const std::wstring& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!active_) return;
  for (auto& attribute : attributes_) {
    if (attribute.first == name) {
      attribute.second = value;
      return;
    }
  }
  attributes_.emplace_back(name, value);
}

void UsageStore::track(const std::wstring& event, const std::wstring& key,
                       const std::wstring& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!active_ || !collect_) return;
  const std::wstring path = storePath_();
  if (path.empty()) return;
  const platform::FileStream file(platform::openFile(path, L"ab"));
  if (!file) return;
  const std::string line = formatEvent(session_, utcNow_(), product_, event,
                                       key, value, attributes_) +
                           "\n";
  std::fwrite(line.data(), 1, line.size(), file.get());
}

bool UsageStore::unInitialize() {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool wasActive = active_;
  active_ = false;
  collect_ = false;
  attributes_.clear();
  return wasActive;
}

std::string UsageStore::jsonString(const std::wstring& text) {
  static const char kHex[] = "0123456789abcdef";
  // The characters with a short escape, and the letter each is written as.
  static const char kEscaped[] = "\"\\\n\r\t\b\f";
  static const char kLetters[] = "\"\\nrtbf";
  const std::string utf8 = tsdlm::utf16ToUtf8(text);
  std::string out;
  out.reserve(utf8.size() + 2);
  out.push_back('"');
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    const char* escaped = c != '\0' ? std::strchr(kEscaped, c) : nullptr;
    if (escaped != nullptr) {
      out.push_back('\\');
      out.push_back(kLetters[escaped - kEscaped]);
    } else if (byte < 0x20) {
      out += "\\u00";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

std::string UsageStore::formatEvent(
    const std::string& session, const std::string& time,
    const std::wstring& product, const std::wstring& event,
    const std::wstring& key, const std::wstring& value,
    const std::vector<std::pair<std::wstring, std::wstring>>& attributes) {
  std::string line = "{\"session\":\"" + session + "\",\"time\":\"" + time +
                     "\",\"product\":" + jsonString(product) +
                     ",\"event\":" + jsonString(event) +
                     ",\"key\":" + jsonString(key) +
                     ",\"value\":" + jsonString(value) + ",\"attributes\":{";
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    if (i > 0) line.push_back(',');
    line += jsonString(attributes[i].first) + ":" +
            jsonString(attributes[i].second);
  }
  line += "}}";
  return line;
}
