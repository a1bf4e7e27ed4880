// Scriptable stand-ins for the platform layer, linked into the unit tests in
// place of src/platform/win32. Each facility has one state record; tests set
// what the next calls see and read what was done. fake::reset() restores the
// defaults (call it in SetUp).
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace fake {

struct FilesState {
  // Real folders on the test machine; paths use '\\' or '/' freely, the fake
  // maps '\\' to '/' before touching the file system.
  std::wstring tempPath;         // empty: GetTempPathW fails
  std::wstring publicDocuments;  // empty: the known-folder lookup fails
  int createDirectoryCalls = 0;
};
FilesState& files();

struct ClockState {
  bool fails = false;
  bool fixed = false;  // use `value` instead of the real local time
  std::tm value{};
};
ClockState& clock();

struct EnvironmentState {
  std::map<std::string, std::wstring> variables;
};
EnvironmentState& environment();

struct FakeProcess {
  platform::ProcessId id = 0;
  std::wstring imagePath;
  bool canOpen = true;
};
struct FakeWindow {
  platform::WindowHandle handle = 0;
  platform::ProcessId owner = 0;
  std::wstring title;
  bool enabled = true;
  std::intptr_t reply = 1;
};
struct SentMessage {
  platform::WindowHandle window;
  unsigned message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};
struct ProcessesState {
  bool enumerationFails = false;
  platform::ProcessId self = 4242;
  std::vector<FakeProcess> processes;
  bool windowEnumerationFails = false;
  std::vector<FakeWindow> windows;
  std::vector<SentMessage> sent;
};
ProcessesState& processes();

struct AnalyticsCall {
  std::string operation;  // initialize, addCommonAttribute, track, unInitialize
  std::wstring first;
  std::wstring second;
  std::wstring third;
  bool flag = false;
};
std::vector<AnalyticsCall>& analyticsCalls();

// Restores every state above to its defaults.
void reset();

// Maps a fake Windows-style path to the local file system's form.
std::string localPath(const std::wstring& path);

}  // namespace fake
