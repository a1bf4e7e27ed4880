// Finding processes by image path, asking the download manager to quit, and
// running the installer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/processes.h"

// The download manager's private quit request, WM_USER + 3.
constexpr unsigned kQuitRequest = 0x0400 + 3;

// Receives the lower-cased full image path of a process.
using ImagePathPredicate = std::function<bool(const std::wstring&)>;

// Another updater: the path contains "tsdlmupdater.exe" and "tessarin shared".
bool isUpdaterInstance(const std::wstring& lowerCasedPath);
// The download manager: "tsdlmgr.exe" and "tessarin shared".
bool isDownloadManager(const std::wstring& lowerCasedPath);

// The id of the first process other than this one whose lower-cased image
// path satisfies the predicate, or 0.
platform::ProcessId findProcess(const ImagePathPredicate& predicate);

// The first top-level window of the process whose title contains
// "Tessarin Download Manager", or 0.
platform::WindowHandle findWindowOfProcess(platform::ProcessId processId);

// True when the download manager's window accepted the quit request.
bool quitDownloadManager(platform::ProcessId processId);

// Runs the installer with "-quiet" in its own folder and waits for it; true
// when it exited with code 0. `started` is called once its process exists.
bool launchInstaller(const std::wstring& path,
                     const std::function<void()>& started = {});
