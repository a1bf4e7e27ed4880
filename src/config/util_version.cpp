#include <array>
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

std::string dotted(const platform::FileVersionInfo& info) {
  return std::to_string(info.words[0]) + "." + std::to_string(info.words[1]) +
         "." + std::to_string(info.words[2]) + "." +
         std::to_string(info.words[3]);
}

// The four numbers of a version, each piece read as atoi reads it; false
// unless the text has exactly four pieces.
bool readVersion(const std::string& text, std::array<int, 4>& numbers) {
  const std::vector<std::string> pieces = Util::splitVersion(text);
  if (pieces.size() != 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    numbers[i] = tsdlm::atoiClamped(pieces[i]);
  }
  return true;
}

}  // namespace

std::string Util::getInstalledVersion() {
  const platform::FileVersionInfo info =
      platform::readFileVersion(getInstalledExecutablePath());
  if (info.failedStep != platform::VersionLookupStep::kNone ||
      info.signature != kFixedFileInfoSignature) {
    return std::string();
  }
  return dotted(info);
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
  return dotted(info);
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
  std::array<int, 4> a{}, b{};
  return readVersion(candidate, a) && readVersion(reference, b) && a > b;
}

bool Util::isSameVersion(const std::string& a, const std::string& b) {
  std::array<int, 4> x{}, y{};
  return readVersion(a, x) && readVersion(b, y) && x == y;
}
