#include <cstdio>
#include <sstream>

#include "common/int_text.h"
#include "config/logger.h"
#include "config/util.h"
#include "platform/files.h"
#include "platform/version_info.h"

namespace {

// The signature every VS_FIXEDFILEINFO record carries.
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;

// Neither entry ends its line: the next entry continues on the same line.
constexpr const char* kInstallerNotDownloaded =
    "INFO: Installer not downloaded!";
constexpr const char* kDownloadedVersionFailed =
    "ERROR: Util::getDownloadedVersion(): Failed to get the file version!";

}  // namespace

std::string Util::getInstalledVersion() {
  const platform::FileVersionInfo info =
      platform::readFileVersion(getInstalledExecutablePath());
  if (info.failedStep != platform::VersionLookupStep::kNone ||
      info.signature != kFixedFileInfoSignature) {
    return std::string();
  }
  return std::to_string(info.words[0]) + "." + std::to_string(info.words[1]) +
         "." + std::to_string(info.words[2]) + "." +
         std::to_string(info.words[3]);
}

std::string Util::getDownloadedVersion(const std::wstring& path) {
  if (!platform::fileExists(path)) {
    Logger::instance().write(kInstallerNotDownloaded);
    return std::string();
  }
  // Unlike the installed executable's record, this one's signature is not
  // checked.
  const platform::FileVersionInfo info =
      platform::readLocalisedFileVersion(path);
  if (info.failedStep != platform::VersionLookupStep::kNone) {
    Logger::instance().writeError(kDownloadedVersionFailed);
    return std::string();
  }
  char text[64] = {};
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", info.words[0], info.words[1],
                info.words[2], info.words[3]);
  return text;
}

std::vector<std::string> Util::splitVersion(const std::string& text) {
  std::vector<std::string> pieces;
  std::istringstream stream(text);
  std::string piece;
  while (std::getline(stream, piece, '.')) pieces.push_back(piece);
  return pieces;
}

bool Util::isVersionHigher(const std::string& candidate,
                           const std::string& reference) {
  Logger::instance().write("Compare Version: " + candidate +
                           " To: " + reference + "\r\n");
  const std::vector<std::string> a = splitVersion(candidate);
  const std::vector<std::string> b = splitVersion(reference);
  if (a.size() != 4 || b.size() != 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    const int x = tsdlm::atoiClamped(a[i]);
    const int y = tsdlm::atoiClamped(b[i]);
    if (x > y) return true;
    if (x < y) return false;
  }
  return false;
}

bool Util::isSameVersion(const std::string& a, const std::string& b) {
  const std::vector<std::string> x = splitVersion(a);
  const std::vector<std::string> y = splitVersion(b);
  if (x.size() != 4 || y.size() != 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    if (tsdlm::atoiClamped(x[i]) != tsdlm::atoiClamped(y[i])) return false;
  }
  return true;
}
