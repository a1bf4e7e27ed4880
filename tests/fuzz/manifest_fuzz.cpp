// The manifest reader on arbitrary bytes: the input becomes update.xml in a
// scratch working folder, then every query runs on it.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/util.h"
#include "fakes/fake_platform.h"
#include "manifest/manifest.h"

namespace {

// The scratch folder lives as long as the fuzzing process.
const std::string& manifestFile() {
  static const std::string file = [] {
    char pattern[] = "/tmp/manifest-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    fake::files().tempPath =
        std::wstring(pattern, pattern + sizeof pattern - 1);
    (void)Util::getManifestPath();  // creates the working folder
    return std::string(pattern) + "/TsDLM/update.xml";
  }();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string& file = manifestFile();
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) std::abort();
  if (size != 0) std::fwrite(data, 1, size, out);
  std::fclose(out);

  const Manifest manifest = Manifest::load();
  (void)manifest.getServerVersion();
  (void)manifest.getWindowsInstallerUrl();
  (void)manifest.getInstallerUrl("mac");
  (void)manifest.getWindowsInstallerSha256();
  (void)manifest.getWindowsInstallerSize();
  (void)manifest.getDownloadOptions();
  (void)manifest.getDownloadOption("downloadTime", "18000");
  return 0;
}
