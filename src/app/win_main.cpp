#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_dlg.h"
#include "app/release_check.h"
#include "app/updater_app.h"
#include "platform/console.h"
#include "platform/win32/owned.h"

namespace {

// The arguments after the program's own name, split the way the C runtime
// splits them.
std::vector<std::wstring> commandLineArguments() {
  std::vector<std::wstring> arguments;
  int count = 0;
  const platform::OwnedLocal memory(
      CommandLineToArgvW(GetCommandLineW(), &count));
  if (!memory) return arguments;
  const auto* split = static_cast<LPWSTR*>(memory.get());
  for (int i = 1; i < count; ++i) arguments.emplace_back(split[i]);
  return arguments;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // "/check ..." runs the release check (a malformed one prints the usage,
  // exit 2); every other command line is the normal run, exit code 0.
  const CommandLine command = parseCommandLine(commandLineArguments());
  if (command.mode != CommandLine::Mode::kUpdate) {
    ExitProcess(
        static_cast<UINT>(runCheckCommand(command, platform::writeToConsole)));
  }
  const RunOptions options = runOptionsFor(command);
  int result = 0;
  {
    UpdaterApp app(instance);
    CMainDlg dialog;
    result = app.run(dialog, instance, options);
  }
  // When the user closed the dialog the worker may still be downloading or
  // waiting for the installer. ExitProcess stops it before any exit handler
  // or static destructor runs, so nothing it uses is torn down under it.
  // Every log entry and analytics event has been flushed already.
  ExitProcess(static_cast<UINT>(result));
}
