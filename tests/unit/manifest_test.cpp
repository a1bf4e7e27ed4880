// update.xml read from real files: every walk and every fallback.
#include "manifest/manifest.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "config/util.h"
#include "fakes/fake_platform.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using testing_support::TempDir;

// A manifest with the usual shape; `inner` replaces the root's content.
std::string wrap(const std::string& inner) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<installerInformation>" +
         inner + "</installerInformation>\n";
}

const std::string kLocation =
    "<downloadLocationList><downloadLocation><url>https://dl.example/i/</url>"
    "</downloadLocation></downloadLocationList>";

std::string files(const std::string& entries) {
  return kLocation + "<platformFileList>" + entries + "</platformFileList>";
}

std::string entry(const std::string& platform, const std::string& filename) {
  return "<file><platform>" + platform + "</platform><filename>" + filename +
         "</filename></file>";
}

const std::string kFull = wrap(
    "<version>6.1.33.0</version>"
    "<downloadOptions><downloadLowSpeedLimit>2048</downloadLowSpeedLimit>"
    "<downloadLowSpeedTime>60</downloadLowSpeedTime>"
    "<downloadTime>600</downloadTime></downloadOptions>" +
    files(entry("windows", "Setup.exe") + entry("mac", "Setup.dmg")));

struct ManifestCase {
  const char* name;
  bool hasFile;
  std::string content;
  std::string version;
  std::string windowsUrl;
  DownloadOptions options;
};

DownloadOptions opts(int limit, int time, int total) {
  DownloadOptions options;
  options.lowSpeedLimit = limit;
  options.lowSpeedTime = time;
  options.downloadTime = total;
  return options;
}

const DownloadOptions kDefaults = opts(1024, 900, 18000);

ManifestCase make(const char* name, const std::string& content,
                  const std::string& version, const std::string& windowsUrl,
                  DownloadOptions options = kDefaults) {
  return ManifestCase{name, true, content, version, windowsUrl, options};
}

class ManifestTest : public testing_support::PlatformTableTest<ManifestCase> {
 protected:
  void SetUp() override {
    PlatformTableTest::SetUp();
    fake::files().tempPath = dir_.wpath() + L"\\";
  }
  void write(const std::string& content) {
    // The lookup creates the working folder, as before a download.
    ASSERT_EQ(Util::getManifestPath(), dir_.wpath() + L"\\TsDLM\\update.xml");
    testing_support::writeFile(dir_.file("TsDLM/update.xml"), content);
    manifest_ = Manifest::load();  // as the download does
  }
  TempDir dir_;
  Manifest manifest_;
};

TEST_P(ManifestTest, EveryQueryWalksToItsAnswerOrFallback) {
  const ManifestCase& c = GetParam();
  if (c.hasFile) write(c.content);
  manifest_ = Manifest::load();
  EXPECT_EQ(manifest_.getServerVersion(), c.version);
  EXPECT_EQ(manifest_.getWindowsInstallerUrl(), c.windowsUrl);
  const DownloadOptions options = manifest_.getDownloadOptions();
  EXPECT_EQ(options.lowSpeedLimit, c.options.lowSpeedLimit);
  EXPECT_EQ(options.lowSpeedTime, c.options.lowSpeedTime);
  EXPECT_EQ(options.downloadTime, c.options.downloadTime);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ManifestTest,
    ::testing::Values(
        make("Full", kFull, "6.1.33.0", "https://dl.example/i/Setup.exe",
             opts(2048, 60, 600)),
        ManifestCase{"NoFile", false, "", "", "", kDefaults},
        make("Empty", "", "", ""),
        make("OnlyDeclaration", "<?xml version=\"1.0\"?>", "", ""),
        make("NotXml", "version 6.1.33.0", "", ""),
        make("Truncated", kFull.substr(0, kFull.size() / 2), "", ""),
        make("Malformed", wrap("<version>6.1.33.0</versio>"), "", ""),
        make("OtherRoot",
             "<installerInfo><version>6.1.33.0</version>"
             "</installerInfo>",
             "", ""),
        make("CaseMatters", wrap("<Version>6.1.33.0</Version>"), "", ""),
        make("NotADirectChild", wrap("<x><version>6.1.33.0</version></x>"), "",
             ""),
        make("CommentsAndAttributesIgnored",
             "<!-- head --><installerInformation a=\"1\"><!-- c -->"
             "<version b=\"2\">6.1.33.0</version></installerInformation>",
             "6.1.33.0", ""),
        make("VersionStartingWithAComment",
             wrap("<version><!-- c -->6.1.33.0</version>"), "", ""),
        make("VersionStartingWithAnElement",
             wrap("<version><b/>6.1.33.0</version>"), "", ""),
        make("FirstVersionEmpty", wrap("<version/><version>6.1.33.0</version>"),
             "", ""),
        make("SecondVersionNeverRead",
             wrap("<version>6.1.33.0</version><version>9.9.9.9</version>"),
             "6.1.33.0", ""),
        make("WhiteSpaceKept", wrap("<version> 6.1.33.0\n</version>"),
             " 6.1.33.0\n", ""),
        make("EntitiesResolved",
             wrap("<version>6&#46;1.33&#x2E;0</version>" +
                  files(entry("windows", "a&amp;b.exe"))),
             "6.1.33.0", "https://dl.example/i/a&b.exe"),
        make("CData", wrap("<version><![CDATA[6.1.33.0]]></version>"),
             "6.1.33.0", ""),
        make("Utf8KeptAsBytes", wrap("<version>6.1.\xC3\xA9</version>"),
             "6.1.\xC3\xA9", ""),
        make("WindowsSecond",
             wrap(files(entry("mac", "Setup.dmg") + entry("windows", "W.exe"))),
             "", "https://dl.example/i/W.exe"),
        make("WindowsWithoutFilenamePassedOver",
             wrap(files("<file><platform>windows</platform></file>" +
                        entry("windows", "Second.exe"))),
             "", "https://dl.example/i/Second.exe"),
        make("WindowsWithEmptyFilenamePassedOver",
             wrap(files("<f><platform>windows</platform><filename/></f>"
                        "<f><platform>windows</platform><filename><!--x-->Y.exe"
                        "</filename></f>" +
                        entry("windows", "Third.exe"))),
             "", "https://dl.example/i/Third.exe"),
        make("FirstMatchWins",
             wrap(files(entry("windows", "One.exe") +
                        entry("windows", "Two.exe"))),
             "", "https://dl.example/i/One.exe"),
        make("OnlyFirstPlatformAndFilenameChildRead",
             wrap(files("<f><platform>mac</platform><platform>windows"
                        "</platform><filename>X.exe</filename></f>"
                        "<f><platform>windows</platform><filename>A.exe"
                        "</filename><filename>B.exe</filename></f>")),
             "", "https://dl.example/i/A.exe"),
        make("CapitalWindowsDoesNotMatch",
             wrap(files(entry("Windows", "Setup.exe"))), "",
             "https://dl.example/i/"),
        make("PaddedPlatformDoesNotMatch",
             wrap(files(entry(" windows", "Setup.exe"))), "",
             "https://dl.example/i/"),
        make("EmptyPlatformList", wrap(files("")), "", "https://dl.example/i/"),
        make("TextAndCommentsBetweenEntries",
             wrap(files("text<!-- c -->" + entry("windows", "S.exe") + "tail")),
             "", "https://dl.example/i/S.exe"),
        make("NoPlatformList", wrap(kLocation), "", ""),
        make("NoUrl",
             wrap("<downloadLocationList><downloadLocation/>"
                  "</downloadLocationList><platformFileList>" +
                  entry("windows", "S.exe") + "</platformFileList>"),
             "", ""),
        make("OnlyFirstLocationRead",
             wrap("<downloadLocationList><downloadLocation/><downloadLocation>"
                  "<url>https://second/</url></downloadLocation>"
                  "</downloadLocationList><platformFileList>" +
                  entry("windows", "S.exe") + "</platformFileList>"),
             "", ""),
        make("FirstOfTwoLocations",
             wrap("<downloadLocationList><downloadLocation><url>https://first/"
                  "</url></downloadLocation><downloadLocation><url>"
                  "https://second/</url></downloadLocation>"
                  "</downloadLocationList><platformFileList>" +
                  entry("windows", "S.exe") + "</platformFileList>"),
             "", "https://first/S.exe"),
        make("JoinedWithoutSeparatorOrEscaping",
             wrap("<downloadLocationList><downloadLocation><url>https://h/dir"
                  "</url></downloadLocation></downloadLocationList>"
                  "<platformFileList>" +
                  entry("windows", "my setup?.exe") + "</platformFileList>"),
             "", "https://h/dirmy setup?.exe"),
        make("OptionsPartial",
             wrap("<downloadOptions><downloadTime>600x</downloadTime>"
                  "</downloadOptions>"),
             "", "", opts(1024, 900, 600)),
        make("OptionsEmptyOrCommentedFallBack",
             wrap("<downloadOptions><downloadLowSpeedLimit/>"
                  "<downloadLowSpeedTime><!-- 5 --></downloadLowSpeedTime>"
                  "<downloadTime></downloadTime></downloadOptions>"),
             "", "", kDefaults),
        make("OptionsOddNumbers",
             wrap("<downloadOptions><downloadLowSpeedLimit> -7"
                  "</downloadLowSpeedLimit><downloadLowSpeedTime>x"
                  "</downloadLowSpeedTime><downloadTime>99999999999"
                  "</downloadTime></downloadOptions>"),
             "", "", opts(-7, 0, INT_MAX))),
    testing_support::CaseName());

class ManifestQueryTest : public ManifestTest {};

TEST_F(ManifestQueryTest, DownloadOptionGivesTextOrTheDefault) {
  write(kFull);
  EXPECT_EQ(manifest_.getDownloadOption("downloadTime", "1"), "600");
  EXPECT_EQ(manifest_.getDownloadOption("unknown", "dflt"), "dflt");
  EXPECT_EQ(manifest_.getDownloadOption("", "dflt"), "dflt");
  std::remove(dir_.file("TsDLM/update.xml").c_str());
  manifest_ = Manifest::load();
  EXPECT_EQ(manifest_.getDownloadOption("downloadTime", "dflt"), "dflt");
}

TEST_F(ManifestQueryTest, InstallerUrlForOtherPlatforms) {
  write(kFull);
  EXPECT_EQ(manifest_.getInstallerUrl("mac"), "https://dl.example/i/Setup.dmg");
  EXPECT_EQ(manifest_.getInstallerUrl("linux"), "https://dl.example/i/");
  EXPECT_EQ(manifest_.getInstallerUrl(""), "https://dl.example/i/");
}

// The size comes from that entry too; malformed text is a size of 0.
TEST_F(ManifestQueryTest, WindowsInstallerSize) {
  const std::pair<std::string, std::optional<std::uint64_t>> rows[] = {
      {"", std::nullopt},
      {"<size>3000000000</size><size>5</size>", 3000000000u},
      {"<size>9999999999999999999</size>", 9999999999999999999u},
      {"<size>10000000000000000000</size>", 0},
      {"<size> 5</size>", 0},
      {"<size>+5</size>", 0},
      {"<size/>", 0},
  };
  for (const auto& [size, expected] : rows) {
    write(
        wrap(files("<file><platform>windows</platform><filename>S.exe"
                   "</filename>" +
                   size + "</file>")));
    EXPECT_EQ(manifest_.getWindowsInstallerSize(), expected) << size;
  }
}

// The pin comes from the entry the installer URL names, as written.
TEST_F(ManifestQueryTest, WindowsInstallerSha256) {
  const std::string pin = "<sha256>" + std::string(64, 'A') + "</sha256>";
  const std::string win =
      "<file><platform>windows</platform><filename>S.exe</filename>";
  const std::string winPin = win + pin + "<sha256>b</sha256>";
  const std::pair<std::string, std::optional<std::string>> rows[] = {
      {entry("windows", "S.exe"), std::nullopt},
      {winPin + "</file>", std::string(64, 'A')},  // the first of two
      {win + "<sha256/></file>", ""},
      {win + "<sha256> a </sha256></file>", " a "},
      {"<file><platform>mac</platform><filename>S.dmg</filename>" + pin +
           "</file>" + entry("windows", "S.exe"),
       std::nullopt},
      {"<file><platform>windows</platform>" + pin + "</file>" + winPin +
           "</file>",
       std::string(64, 'A')},
  };
  for (const auto& [entries, expected] : rows) {
    write(wrap(files(entries)));
    EXPECT_EQ(manifest_.getWindowsInstallerSha256(), expected) << entries;
  }
  const std::string digest(64, 'c');
  EXPECT_TRUE(Manifest::matchesSha256(digest, digest));
  EXPECT_TRUE(Manifest::matchesSha256(std::string(63, 'c') + "C", digest));
  for (const std::string& malformed :
       {digest.substr(1), digest + "c", " " + digest, std::string(64, 'g'),
        std::string()}) {
    EXPECT_FALSE(Manifest::matchesSha256(malformed, digest)) << malformed;
  }
  EXPECT_FALSE(Manifest::matchesSha256(digest, ""));
}

// The expiry: one element, one exact UTC form; anything else is no expiry.
TEST_F(ManifestQueryTest, ExpiryIsOneExactUtcTime) {
  struct Row {
    std::string inner;
    bool present;
    std::optional<std::int64_t> seconds;
  };
  const std::string e = "<expires>2026-12-09T10:00:00Z</expires>";
  const Row rows[] = {
      {"<version>1</version>", false, std::nullopt},
      {e, true, 1796810400},
      {"<expires>1970-01-01T00:00:00Z</expires>", true, 0},
      {"<expires>2024-02-29T23:59:59Z</expires>", true, 1709251199},
      {e + e, true, std::nullopt},  // two expiries
      {e + "<expires>2099-01-01T00:00:00Z</expires>", true, std::nullopt},
      {"<expires>2026-12-09T10:00:00+02:00</expires>", true, std::nullopt},
      {"<expires>2026-12-09T10:00:00z</expires>", true, std::nullopt},
      {"<expires>2026-12-09T10:00:00.5Z</expires>", true, std::nullopt},
      {"<expires>2026-12-09 10:00:00Z</expires>", true, std::nullopt},
      {"<expires> 2026-12-09T10:00:00Z</expires>", true, std::nullopt},
      {"<expires>2026-12-09T10:00:00</expires>", true, std::nullopt},
      {"<expires>2025-02-29T00:00:00Z</expires>", true, std::nullopt},
      {"<expires>2026-13-01T00:00:00Z</expires>", true, std::nullopt},
      {"<expires>2026-12-09T24:00:00Z</expires>", true, std::nullopt},
      {"<expires>2026-12-09T10:00:60Z</expires>", true, std::nullopt},
      {"<expires>+026-12-09T10:00:00Z</expires>", true, std::nullopt},
      {"<expires/>", true, std::nullopt},
  };
  for (const Row& row : rows) {
    write(wrap(row.inner));
    const Manifest::Expiry expiry = manifest_.getExpiry();
    EXPECT_EQ(expiry.present, row.present) << row.inner;
    EXPECT_EQ(expiry.valid, row.seconds.has_value()) << row.inner;
    EXPECT_EQ(expiry.seconds, row.seconds.value_or(0)) << row.inner;
  }
  write(wrap(e));
  EXPECT_EQ(manifest_.bytes(), wrap(e));
}

TEST_F(ManifestQueryTest, UnknownTemporaryFolderGivesTheFallbacks) {
  fake::files().tempPath.clear();
  manifest_ = Manifest::load();
  EXPECT_EQ(manifest_.getServerVersion(), "");
  EXPECT_EQ(manifest_.getWindowsInstallerUrl(), "");
  EXPECT_EQ(manifest_.getDownloadOption("downloadTime", "d"), "d");
}

// Read once: a file rewritten after the load (by another program of the
// user) changes no answer; the file is not kept open.
TEST_F(ManifestQueryTest, AnswersFromWhatWasReadNotFromTheFileNow) {
  write(kFull);
  ASSERT_EQ(std::remove(dir_.file("TsDLM/update.xml").c_str()), 0);
  testing_support::writeFile(dir_.file("TsDLM/update.xml"),
                             wrap("<version>9.9.9.9</version>" +
                                  files(entry("windows", "Other.exe"))));
  EXPECT_EQ(manifest_.getServerVersion(), "6.1.33.0");
  EXPECT_EQ(manifest_.getWindowsInstallerUrl(),
            "https://dl.example/i/Setup.exe");
  EXPECT_EQ(manifest_.getDownloadOptions().downloadTime, 600);
}

}  // namespace
