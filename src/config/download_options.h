#pragma once

#include <cstdint>

// Three transfer limits, from update.ini or from the manifest.
struct DownloadOptions {
  std::int32_t lowSpeedLimit = 0;
  std::int32_t lowSpeedTime = 0;
  std::int32_t downloadTime = 0;
};
