#pragma once

#include <functional>

// Receives the download percentage; the result is ignored by the downloader.
using ProgressCallback = std::function<bool(int)>;
