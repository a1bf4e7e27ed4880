// The downloaded update manifest (update.xml), a value the run holds. The
// file is read once, by load, right after its download; every query answers
// from that copy in memory, so the version compared and the installer
// fetched and checked come from the same manifest whatever happens to the
// file later.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/download_options.h"
#include "config/util.h"

class Manifest {
 public:
  // An empty manifest, as one that could not be read: every query gives
  // its fallback.
  Manifest() = default;
  // Reads update.xml at `path` into memory.
  [[nodiscard]] static Manifest load(
      const std::wstring& path = Util::getManifestPath());
  // installerInformation/version, or empty.
  std::string getServerVersion() const;
  // installerInformation/downloadOptions/<name>, or `defaultValue`.
  std::string getDownloadOption(const std::string& name,
                                const std::string& defaultValue) const;
  DownloadOptions getDownloadOptions() const;
  // Base URL of the first download location followed directly by the file
  // name of the first entry for `platform`; empty when no base URL.
  std::string getInstallerUrl(const std::string& platform) const;
  std::string getWindowsInstallerUrl() const;
  // The text of the sha256 element of the windows entry the installer URL
  // names (the first windows entry with a file name), exactly as written:
  // an empty element gives "". No value when that entry has no sha256
  // element, or when there is no such entry: the installer is not pinned.
  std::optional<std::string> getWindowsInstallerSha256() const;
  // The size element of that same entry: the installer's size in bytes. No
  // value when the entry has none. Text other than 1 to 19 decimal digits
  // (white space, a sign, an empty element) gives 0, a size no installer
  // has: a malformed size refuses every download, never means "no size".
  std::optional<std::uint64_t> getWindowsInstallerSize() const;
  // True when `pinned` is exactly 64 hexadecimal digits (either case) and
  // names the same digest as `actual` (lower-case hex). Anything else, an
  // empty `actual` (a digest that could not be computed) included, is a
  // mismatch.
  static bool matchesSha256(const std::string& pinned,
                            const std::string& actual);

  // The manifest's expiry: the text of installerInformation/expires, which
  // must be the only element of that name there and read exactly
  // "YYYY-MM-DDTHH:MM:SSZ" (UTC; no offset, no fraction, no blanks).
  struct Expiry {
    bool present = false;      // at least one expires element
    bool valid = false;        // exactly one, in the exact form, a real time
    std::int64_t seconds = 0;  // when valid: seconds since 1970-01-01 UTC
    std::string text;          // the first element's text as written
  };
  Expiry getExpiry() const;
  // "YYYY-MM-DDTHH:MM:SSZ" as seconds since 1970-01-01 UTC; no value for
  // any other form or for a date or time that does not exist.
  static std::optional<std::int64_t> parseUtcTime(const std::string& text);
  // The bytes read, exactly: what a signature of the manifest covers.
  const std::string& bytes() const { return text_; }

 private:
  bool read_ = false;  // false: not read (every query's fallback)
  std::string text_;
};
