#include "manifest/manifest.h"

#include <tinyxml2.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "common/int_text.h"
#include "config/util.h"
#include "platform/files.h"

namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The manifest as load read it; unset before the first load and when the
// file could not be opened. Written and read on one thread (the worker's,
// or the check's).
struct Snapshot {
  bool read = false;
  std::string text;
};
Snapshot& snapshot() {
  static Snapshot loaded;
  return loaded;
}

// Parses the manifest read with the parser's default settings (entities
// resolved, white space kept) and hands the root element to `walk`, or
// returns `fallback` when the file could not be read. The parse result is
// not examined: a document the parser rejected has no elements, so every
// walk then ends in its own fallback.
template <typename Walk>
std::string withRoot(const std::string& fallback, Walk walk) {
  const Snapshot& manifest = snapshot();
  if (!manifest.read) return fallback;
  XMLDocument document;
  (void)document.Parse(manifest.text.data(), manifest.text.size());
  return walk(document.FirstChildElement("installerInformation"));
}

// The first child element called `name`, or null (also for a null parent).
const XMLElement* child(const XMLElement* parent, const char* name) {
  return parent != nullptr ? parent->FirstChildElement(name) : nullptr;
}

// The element's text when its first child is a text node (CDATA included);
// null when the element is missing, empty, or starts with a comment or an
// element. Spelled out rather than left to XMLElement::GetText, which skips
// leading comments since tinyxml2 9.
const char* text(const XMLElement* element) {
  if (element == nullptr) return nullptr;
  const tinyxml2::XMLNode* first = element->FirstChild();
  const tinyxml2::XMLText* node = first != nullptr ? first->ToText() : nullptr;
  return node != nullptr ? node->Value() : nullptr;
}

}  // namespace

void Manifest::load() {
  Snapshot loaded;
  FileHandle file(platform::openFile(Util::getManifestPath(), L"rb"));
  if (file) {
    loaded.read = true;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
      loaded.text.append(buffer, got);
    }
  }
  snapshot() = std::move(loaded);
}

std::string Manifest::getServerVersion() {
  return withRoot(std::string(), [](const XMLElement* root) {
    const char* version = text(child(root, "version"));
    return std::string(version != nullptr ? version : "");
  });
}

std::string Manifest::getDownloadOption(const std::string& name,
                                        const std::string& defaultValue) {
  return withRoot(defaultValue, [&](const XMLElement* root) {
    const char* value =
        text(child(child(root, "downloadOptions"), name.c_str()));
    return value != nullptr ? std::string(value) : defaultValue;
  });
}

DownloadOptions Manifest::getDownloadOptions() {
  DownloadOptions options;
  options.lowSpeedLimit =
      tsdlm::atoiClamped(getDownloadOption("downloadLowSpeedLimit", "1024"));
  options.lowSpeedTime =
      tsdlm::atoiClamped(getDownloadOption("downloadLowSpeedTime", "900"));
  options.downloadTime =
      tsdlm::atoiClamped(getDownloadOption("downloadTime", "18000"));
  return options;
}

std::string Manifest::getInstallerUrl(const std::string& platformName) {
  return withRoot(std::string(), [&](const XMLElement* root) {
    const char* baseUrl = text(child(
        child(child(root, "downloadLocationList"), "downloadLocation"), "url"));
    if (baseUrl == nullptr) return std::string();
    const XMLElement* files = child(root, "platformFileList");
    if (files == nullptr) return std::string();

    // An entry for the platform without a usable file name is passed over:
    // a later entry for the same platform may still have one.
    std::string fileName;
    for (const XMLElement* entry = files->FirstChildElement(); entry != nullptr;
         entry = entry->NextSiblingElement()) {
      const char* name = text(child(entry, "platform"));
      if (name == nullptr || platformName != name) continue;
      const char* file = text(child(entry, "filename"));
      if (file == nullptr) continue;
      fileName = file;
      break;
    }
    // Joined as they are: no separator, no escaping.
    return std::string(baseUrl) + fileName;
  });
}

std::string Manifest::getWindowsInstallerUrl() {
  return getInstallerUrl("windows");
}
