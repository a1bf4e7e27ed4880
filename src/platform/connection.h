// The Windows Internet connection state.
#pragma once

namespace platform {

// InternetGetConnectedState, then InternetAttemptConnect(0). True only when
// the first reports a connection and the second succeeds.
bool internetConnectionAvailable();

}  // namespace platform
