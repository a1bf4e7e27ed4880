// The Win32 form of a held file, shared by the facilities that use its
// handle (the trust provider takes it directly).
#pragma once

#include <windows.h>

#include "platform/files.h"
#include "platform/win32/owned.h"

namespace platform {

struct HeldFile {
  OwnedHandle handle;
};

}  // namespace platform
