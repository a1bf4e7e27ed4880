#include "analytics/usage_util.h"
#include "platform/analytics.h"

namespace platform::analytics {

bool initialize(const wchar_t* product, bool flag) {
  return UsageUtil::initialize(product, flag);
}

void addCommonAttribute(const wchar_t* name, const wchar_t* value) {
  UsageUtil::addCommonAttribute(name, value);
}

void track(const wchar_t* event, const wchar_t* key, const wchar_t* value) {
  UsageUtil::track(event, key, value);
}

bool unInitialize() { return UsageUtil::unInitialize(); }

}  // namespace platform::analytics
