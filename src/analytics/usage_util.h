// The usage-analytics library (UsageUtil.dll). All four operations are
// thread-safe, take zero-terminated UTF-16 strings and never throw; calls
// made before initialize or after unInitialize are dropped harmlessly.
#pragma once

#if defined(_WIN32)
#if defined(USAGEUTIL_BUILD)
#define USAGEUTIL_API __declspec(dllexport)
#else
#define USAGEUTIL_API __declspec(dllimport)
#endif
#else
#define USAGEUTIL_API
#endif

class USAGEUTIL_API UsageUtil {
 public:
  // Starts a session. With `flag` false every later track is dropped.
  static bool initialize(const wchar_t* product, bool flag);
  // Adds (or replaces) an attribute carried by every later event.
  static void addCommonAttribute(const wchar_t* name, const wchar_t* value);
  // Appends one event to the store, flushed at once.
  static void track(const wchar_t* event, const wchar_t* key,
                    const wchar_t* value);
  // Ends the session.
  static bool unInitialize();
};
