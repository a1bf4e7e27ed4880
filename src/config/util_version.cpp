#include "config/util.h"

#include <cstdlib>
#include <sstream>

#include "config/logger.h"

std::string Util::getInstalledVersion() { return std::string(); }

std::string Util::getDownloadedVersion() { return std::string(); }

std::vector<std::string> Util::splitVersion(const std::string& text) {
  std::vector<std::string> pieces;
  std::istringstream stream(text);
  std::string piece;
  while (std::getline(stream, piece, '.')) pieces.push_back(piece);
  return pieces;
}

bool Util::isVersionHigher(const std::string& candidate,
                           const std::string& reference) {
  Logger::instance().write("Compare Version: " + candidate + " To: " +
                           reference + "\r\n");
  const std::vector<std::string> a = splitVersion(candidate);
  const std::vector<std::string> b = splitVersion(reference);
  if (a.size() != 4 || b.size() != 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    const int x = std::atoi(a[i].c_str());
    const int y = std::atoi(b[i].c_str());
    if (x > y) return true;
    if (x < y) return false;
  }
  return false;
}
