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

// Parses the manifest read with the parser's default settings (entities
// resolved, white space kept) and hands the root element to `walk`, or
// returns `fallback` when the file could not be read. The parse result is
// not examined: a document the parser rejected has no elements, so every
// walk then ends in its own fallback.
template <typename T, typename Walk>
T withRoot(bool read, const std::string& text, const T& fallback, Walk walk) {
  if (!read) return fallback;
  XMLDocument document;
  (void)document.Parse(text.data(), text.size());
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

// The element's text as `text` finds it, or empty.
std::string textOf(const XMLElement* element) {
  const char* found = text(element);
  return found != nullptr ? found : "";
}

// The first entry of the platform file list for `platformName` that has a
// usable file name, or null. An entry without one is passed over: a later
// entry for the same platform may still have one.
const XMLElement* installerEntry(const XMLElement* root,
                                 const std::string& platformName) {
  const XMLElement* files = child(root, "platformFileList");
  for (const XMLElement* entry = files != nullptr ? files->FirstChildElement()
                                                  : nullptr;
       entry != nullptr; entry = entry->NextSiblingElement()) {
    const char* name = text(child(entry, "platform"));
    if (name != nullptr && platformName == name &&
        text(child(entry, "filename")) != nullptr) {
      return entry;
    }
  }
  return nullptr;
}

}  // namespace

Manifest Manifest::load(const std::wstring& path) {
  Manifest loaded;
  platform::FileStream file(platform::openFile(path, L"rb"));
  if (file) {
    loaded.read_ = true;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
      loaded.text_.append(buffer, got);
    }
  }
  return loaded;
}

std::string Manifest::getServerVersion() const {
  return withRoot(read_, text_, std::string(), [](const XMLElement* root) {
    return textOf(child(root, "version"));
  });
}

std::string Manifest::getDownloadOption(const std::string& name,
                                        const std::string& defaultValue) const {
  return withRoot(read_, text_, defaultValue, [&](const XMLElement* root) {
    const char* value =
        text(child(child(root, "downloadOptions"), name.c_str()));
    return value != nullptr ? std::string(value) : defaultValue;
  });
}

DownloadOptions Manifest::getDownloadOptions() const {
  const auto number = [this](const char* name, const char* fallback) {
    return tsdlm::atoiClamped(getDownloadOption(name, fallback));
  };
  return {number("downloadLowSpeedLimit", "1024"),
          number("downloadLowSpeedTime", "900"),
          number("downloadTime", "18000")};
}

std::string Manifest::getInstallerUrl(const std::string& platformName) const {
  return withRoot(read_, text_, std::string(), [&](const XMLElement* root) {
    const char* baseUrl = text(child(
        child(child(root, "downloadLocationList"), "downloadLocation"), "url"));
    if (baseUrl == nullptr || child(root, "platformFileList") == nullptr) {
      return std::string();
    }
    const XMLElement* entry = installerEntry(root, platformName);
    // Joined as they are: no separator, no escaping.
    return std::string(baseUrl) +
           (entry != nullptr ? text(child(entry, "filename")) : "");
  });
}

std::string Manifest::getWindowsInstallerUrl() const {
  return getInstallerUrl("windows");
}

std::optional<std::string> Manifest::getWindowsInstallerSha256() const {
  using Pin = std::optional<std::string>;
  return withRoot(read_, text_, Pin(), [](const XMLElement* root) -> Pin {
    // The first sha256 element counts, as the first of every element does.
    // Its text is taken as it stands: white space around the digits makes
    // it malformed, never "no pin".
    const XMLElement* element =
        child(installerEntry(root, "windows"), "sha256");
    if (element == nullptr) return std::nullopt;
    return textOf(element);
  });
}

std::optional<std::uint64_t> Manifest::getWindowsInstallerSize() const {
  using Size = std::optional<std::uint64_t>;
  return withRoot(read_, text_, Size(), [](const XMLElement* root) -> Size {
    const XMLElement* element = child(installerEntry(root, "windows"), "size");
    if (element == nullptr) return std::nullopt;
    const std::string written = textOf(element);
    // 19 digits always fit 64 bits.
    if (written.empty() || written.size() > 19 ||
        written.find_first_not_of("0123456789") != std::string::npos) {
      return 0;
    }
    std::uint64_t value = 0;
    for (const char digit : written) {
      value = value * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    return value;
  });
}

bool Manifest::matchesSha256(const std::string& pinned,
                             const std::string& actual) {
  // Upper-case digits are read as lower-case ones; no other letter is a digit.
  std::string lower = pinned;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower.size() == 64 &&
         lower.find_first_not_of("0123456789abcdef") == std::string::npos &&
         lower == actual;
}

Manifest::Expiry Manifest::getExpiry() const {
  return withRoot(read_, text_, Expiry(), [](const XMLElement* root) {
    Expiry expiry;
    int count = 0;
    for (const XMLElement* element = child(root, "expires"); element != nullptr;
         element = element->NextSiblingElement("expires")) {
      if (count++ == 0) expiry.text = textOf(element);
    }
    expiry.present = count > 0;
    // Two expiries are no expiry: a reader that takes the other one would
    // keep the manifest longer.
    const std::optional<std::int64_t> seconds =
        count == 1 ? parseUtcTime(expiry.text) : std::nullopt;
    expiry.valid = seconds.has_value();
    expiry.seconds = seconds.value_or(0);
    return expiry;
  });
}

std::optional<std::int64_t> Manifest::parseUtcTime(const std::string& text) {
  // Exactly "YYYY-MM-DDTHH:MM:SSZ": a time zone other than Z, a fraction or
  // a blank is refused, never interpreted.
  static const char kForm[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != sizeof kForm - 1) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return std::nullopt;
  }
  const auto number = [&text](std::size_t at, std::size_t digits) {
    std::int64_t value = 0;
    for (std::size_t i = at; i < at + digits; ++i)
      value = value * 10 + (text[i] - '0');
    return value;
  };
  const std::int64_t year = number(0, 4), month = number(5, 2),
                     day = number(8, 2);
  const std::int64_t hour = number(11, 2), minute = number(14, 2),
                     second = number(17, 2);
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1970 || month < 1 || month > 12 || day < 1 ||
      day > kDays[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 ||
      minute > 59 || second > 59) {
    return std::nullopt;
  }
  // Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
  const std::int64_t y = month <= 2 ? year - 1 : year;
  const std::int64_t era = y / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear =
      (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra =
      yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}
