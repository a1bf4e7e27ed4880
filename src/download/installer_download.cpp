#include <cstdint>
#include <optional>
#include <string>

#include "config/logger.h"
#include "config/settings.h"
#include "config/util.h"
#include "download/http_downloader.h"
#include "manifest/manifest.h"
#include "platform/files.h"
#include "trust/installer_trust.h"

namespace {

// A file whose bytes are not the ones the manifest pins is fetched again
// rather than reused: its copy could only be refused.
bool isIntactAndOurs(const std::wstring& path, const Manifest& manifest) {
  const platform::HeldFileHandle file = platform::holdFile(path);
  if (!file) return false;
  // A file of another size than the manifest names is not read at all.
  const std::optional<std::uint64_t> size = manifest.getWindowsInstallerSize();
  platform::HeldFileInfo info;
  if (size && (!platform::heldFileInfo(*file, info) || info.size != *size)) {
    return false;
  }
  platform::SignerIdentity signer;
  if (verifySignature(path, *file, signer) != 0 ||
      !verifyPublisher(signer, kExpectedPublisher)) {
    return false;
  }
  const std::optional<std::string> pinned =
      manifest.getWindowsInstallerSha256();
  return !pinned ||
         Manifest::matchesSha256(*pinned, platform::heldFileSha256(*file));
}

}  // namespace

Transfer HttpDownloader::getInstaller(const RunOptions& options,
                                      const Manifest& manifest,
                                      const ProgressCallback& progress) {
  if (options.isCheck()) return downloadInstaller(options, manifest, progress);
  if (!Settings::checkForUpdates()) return Transfer();
  const std::wstring path = Util::getInstallerPath(options.workingFolder);
  const std::string downloaded = Util::getDownloadedVersion(path);
  Logger::instance().write(
      "INFO: HttpDownloader::getInstaller(): Downloaded version: " +
      downloaded + "\r\n");

  // Reuse only the very version offered, byte for byte, and only when it is
  // still intact and from the expected publisher. (The copy that is finally
  // started is checked again, and its own version with it.)
  if (!downloaded.empty() && downloaded == manifest.getServerVersion() &&
      isIntactAndOurs(path, manifest)) {
    Logger::instance().write(
        "INFO: HttpDownloader::getInstaller(): The right installer has been "
        "downloaded completely. Do not download it again!\r\n");
    return Transfer{true, 0, {}};
  }

  return downloadInstaller(options, manifest, progress);
}

Transfer HttpDownloader::downloadInstaller(const RunOptions& options,
                                           const Manifest& manifest,
                                           const ProgressCallback& progress) {
  const std::wstring path = Util::getInstallerPath(options.workingFolder);
  (void)platform::deleteFile(path);
  // The manifest's limits are read but not applied: the transfer keeps its
  // fixed overall time limit.
  (void)manifest.getDownloadOptions();
  // The transfer ends as soon as the body passes the size the manifest
  // names (or, without one, the cap), and a body of another size is refused
  // before anything reads it: a server that streams without end cannot fill
  // the disk.
  const std::optional<std::uint64_t> size = manifest.getWindowsInstallerSize();
  Transfer fetched =
      download(manifest.getWindowsInstallerUrl(), path,
               size ? *size : kInstallerCap, &progress, size.has_value());
  // A partial installer is of no use to a later run: it would only be
  // fetched again.
  if (!fetched) (void)platform::deleteFile(path);
  return fetched;
}
