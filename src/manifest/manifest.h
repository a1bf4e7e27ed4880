// Queries on the downloaded update manifest (update.xml). The file is read
// once, by load, right after its download; every query answers from that
// copy in memory, so the version compared and the installer fetched and
// checked come from the same manifest whatever happens to the file later.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/download_options.h"
#include "config/util.h"

class Manifest {
 public:
  // Reads update.xml at `path` into memory, replacing what an
  // earlier load read. A file that cannot be read counts as an empty
  // manifest: every query then gives its fallback.
  static void load(const std::wstring& path = Util::getManifestPath());
  // installerInformation/version, or empty.
  static std::string getServerVersion();
  // installerInformation/downloadOptions/<name>, or `defaultValue`.
  static std::string getDownloadOption(const std::string& name,
                                       const std::string& defaultValue);
  static DownloadOptions getDownloadOptions();
  // Base URL of the first download location followed directly by the file
  // name of the first entry for `platform`; empty when no base URL.
  static std::string getInstallerUrl(const std::string& platform);
  static std::string getWindowsInstallerUrl();
  // The text of the sha256 element of the windows entry the installer URL
  // names (the first windows entry with a file name), exactly as written:
  // an empty element gives "". No value when that entry has no sha256
  // element, or when there is no such entry: the installer is not pinned.
  static std::optional<std::string> getWindowsInstallerSha256();
  // The size element of that same entry: the installer's size in bytes. No
  // value when the entry has none. Text other than 1 to 19 decimal digits
  // (white space, a sign, an empty element) gives 0, a size no installer
  // has: a malformed size refuses every download, never means "no size".
  static std::optional<std::uint64_t> getWindowsInstallerSize();
  // True when `pinned` is exactly 64 hexadecimal digits (either case) and
  // names the same digest as `actual` (lower-case hex). Anything else, an
  // empty `actual` (a digest that could not be computed) included, is a
  // mismatch.
  static bool matchesSha256(const std::string& pinned,
                            const std::string& actual);
};
