// The usage-analytics library (UsageUtil.dll). No result is relied on.
#pragma once

namespace platform::analytics {

bool initialize(const wchar_t* product, bool flag);
void addCommonAttribute(const wchar_t* name, const wchar_t* value);
void track(const wchar_t* event, const wchar_t* key, const wchar_t* value);
bool unInitialize();

}  // namespace platform::analytics
