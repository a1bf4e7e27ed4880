#include "proxy/upi_info.h"

#include <utility>

namespace TSRN::ProxyManager {

namespace {

// A moved-from std::string is only "valid but unspecified"; the record
// promises empty sources, so they are cleared explicitly.
std::string Take(std::string& source) noexcept {
  std::string taken = std::move(source);
  source.clear();
  return taken;
}

}  // namespace

UPIInfo::UPIInfo() = default;

UPIInfo::~UPIInfo() = default;

UPIInfo::UPIInfo(const UPIInfo& other) = default;

UPIInfo::UPIInfo(UPIInfo&& other) noexcept { *this = std::move(other); }

UPIInfo& UPIInfo::operator=(const UPIInfo& other) = default;

UPIInfo& UPIInfo::operator=(UPIInfo&& other) noexcept {
  if (this != &other) {
    url = Take(other.url);
    server = Take(other.server);
    serverPort = Take(other.serverPort);
    user = Take(other.user);
    password = Take(other.password);
  }
  return *this;
}

}  // namespace TSRN::ProxyManager
