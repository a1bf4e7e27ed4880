// WinINet lives in a file of its own: its header clashes with WinHTTP's.
#include <windows.h>
#include <wininet.h>

#include "platform/connection.h"

namespace platform {

bool internetConnectionAvailable() {
  DWORD flags = 0;
  if (!InternetGetConnectedState(&flags, 0)) return false;
  return InternetAttemptConnect(0) == ERROR_SUCCESS;
}

}  // namespace platform
