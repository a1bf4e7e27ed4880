// The downloader against a real local server, with the native libcurl.
#include "download/http_downloader.h"

#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "common/text.h"
#include "config/util.h"
#include "fakes/fake_platform.h"
#include "manifest/manifest.h"
#include "unit/local_server.h"
#include "unit/process_log.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using ::testing::HasSubstr;
using testing_support::exists;
using testing_support::LocalServer;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

using tsdlm::widenBytes;

class HttpDownloaderTest : public testing_support::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    curl_global_init(CURL_GLOBAL_ALL);
    writeFile(root_.file("file.bin"), std::string(300000, 'x'));
    writeFile(root_.file("small.txt"), "hello");
  }
  void TearDown() override { curl_global_cleanup(); }
  std::string log() { return testing_support::ProcessLog::sinceMark(); }
  std::wstring out(const std::string& name = "out.bin") {
    return widenBytes(work_.file(name));
  }

  TempDir root_;
  TempDir work_;
  LocalServer server_{root_.path()};
  std::vector<int> reports_;
  const ProgressCallback progress_ = [this](int percent) {
    reports_.push_back(percent);
    return true;
  };
};

TEST_F(HttpDownloaderTest, DownloadsIntoTheFileAndLogsCompletion) {
  ASSERT_TRUE(HttpDownloader::download(server_.url("/small.txt"), out()));
  EXPECT_EQ(readFile(work_.file("out.bin")), "hello");
  EXPECT_THAT(log(), HasSubstr("  Download complete: " + work_.file("out.bin") +
                               "\r\n"));
}

TEST_F(HttpDownloaderTest, FollowsFiveRedirectsButNotSix) {
  server_.setRule("/five", R"({"redirects": 5, "body_file": "small.txt"})");
  server_.setRule("/six", R"({"redirects": 6, "body_file": "small.txt"})");
  EXPECT_TRUE(HttpDownloader::transfer(server_.url("/five"), out("five")));
  EXPECT_EQ(readFile(work_.file("five")), "hello");
  EXPECT_FALSE(HttpDownloader::transfer(server_.url("/six"), out("six")));
  EXPECT_THAT(log(), HasSubstr("  [ERROR] curl_easy_perform() failed: 47 "
                               "(Number of redirects hit maximum amount)\r\n"));
}

TEST_F(HttpDownloaderTest, ErrorStatusWithBodyIsAFailedTransfer) {
  server_.setRule("/missing.xml",
                  R"({"status": 404, "body": "<html>not found</html>"})");
  EXPECT_FALSE(HttpDownloader::download(server_.url("/missing.xml"), out()));
  EXPECT_THAT(log(), HasSubstr("  [ERROR] curl_easy_perform() failed: 22 "
                               "(HTTP response code said error)\r\n"));
  EXPECT_THAT(log(), ::testing::Not(HasSubstr("Download complete")));
  // The file that was opened for the transfer stays, as after any failure.
  EXPECT_TRUE(exists(work_.file("out.bin")));
}

TEST_F(HttpDownloaderTest, EmptyBodyFailsSilentlyAndLeavesAnEmptyFile) {
  server_.setRule("/empty", R"({"body": ""})");
  EXPECT_FALSE(HttpDownloader::download(server_.url("/empty"), out()));
  EXPECT_TRUE(exists(work_.file("out.bin")));
  EXPECT_EQ(readFile(work_.file("out.bin")), "");
  EXPECT_EQ(log(), "");
}

TEST_F(HttpDownloaderTest, WithoutContentLengthThePercentageStaysZero) {
  server_.setRule("/file.bin", R"({"length": "none"})");
  ASSERT_TRUE(HttpDownloader::transfer(server_.url("/file.bin"), out(),
                                       HttpDownloader::kNoLimit, &progress_));
  ASSERT_FALSE(reports_.empty());
  EXPECT_THAT(reports_, ::testing::Each(0));
  EXPECT_EQ(readFile(work_.file("out.bin")).size(), 300000u);
}

TEST_F(HttpDownloaderTest, EveryProgressReportReachesTheCallback) {
  server_.setRule("/file.bin", R"({"rate": 3000000})");
  ASSERT_TRUE(HttpDownloader::transfer(server_.url("/file.bin"), out(),
                                       HttpDownloader::kNoLimit, &progress_));
  ASSERT_GE(reports_.size(), 2u);
  EXPECT_EQ(reports_.back(), 100);
  EXPECT_TRUE(std::is_sorted(reports_.begin(), reports_.end()));
}

TEST_F(HttpDownloaderTest, LineBreaksAreRemovedFromTheUrl) {
  ASSERT_TRUE(
      HttpDownloader::transfer(server_.url("/small.txt") + "\r\n", out()));
  ASSERT_TRUE(
      HttpDownloader::transfer(server_.url("/sm\nall.\rtxt"), out("b")));
  EXPECT_EQ(readFile(work_.file("b")), "hello");
}

TEST_F(HttpDownloaderTest, MissingOutputFolderFailsWithoutLogOrRequest) {
  EXPECT_FALSE(HttpDownloader::download(server_.url("/small.txt"),
                                        out("no/such/folder/x")));
  EXPECT_EQ(log(), "");
  EXPECT_THAT(server_.requests(), ::testing::Not(HasSubstr("/small.txt")));
}

TEST_F(HttpDownloaderTest, OfflineTouchesNothing) {
  fake::connection().connected = false;
  writeFile(work_.file("out.bin"), "previous");
  EXPECT_FALSE(HttpDownloader::download(server_.url("/small.txt"), out()));
  EXPECT_FALSE(HttpDownloader::download(server_.url("/small.txt"), out("new")));
  EXPECT_EQ(readFile(work_.file("out.bin")), "previous");
  EXPECT_FALSE(exists(work_.file("new")));
  EXPECT_THAT(server_.requests(), ::testing::Not(HasSubstr("/small.txt")));
}

TEST_F(HttpDownloaderTest, DroppedConnectionFailsWithTheErrorEntry) {
  server_.setRule("/file.bin", R"({"drop_after": 1000})");
  EXPECT_FALSE(HttpDownloader::download(server_.url("/file.bin"), out()));
  EXPECT_THAT(log(), HasSubstr("  [ERROR] curl_easy_perform() failed: 18 "
                               "(Transferred a partial file)\r\n"));
  // The partial file stays on disk.
  EXPECT_EQ(readFile(work_.file("out.bin")).size(), 1000u);
}

// The release check's fetch, whatever the settings say (here a file without
// keys: update checks off, no URL): its own manifest URL, and never the
// installer an earlier check left; a download that fails leaves no partial
// installer behind.
TEST_F(HttpDownloaderTest, ACheckFetchesAnewWhateverTheSettingsSay) {
  fake::files().tempPath = work_.wpath() + L"\\";
  fake::files().existing.insert(Util::getSettingsPath());
  RunOptions check;
  check.mode = RunOptions::Mode::kCheck;
  check.workingFolder = Util::kWorkingFolder;
  check.manifestUrl = server_.url("/small.txt");
  EXPECT_TRUE(HttpDownloader::getUpdateXml(check));
  EXPECT_FALSE(HttpDownloader::getUpdateXml(RunOptions()));
  writeFile(
      fake::localPath(Util::getManifestPath()),
      "<installerInformation><downloadLocationList><downloadLocation><url>" +
          server_.url("/") +
          "</url></downloadLocation></downloadLocationList>"
          "<platformFileList><f><platform>windows</platform><filename>"
          "file.bin</filename></f></platformFileList></installerInformation>");
  const Manifest manifest = Manifest::load();
  const std::string installer = fake::localPath(Util::getInstallerPath());
  writeFile(installer, "kept from an earlier check");
  ASSERT_TRUE(HttpDownloader::getInstaller(check, manifest, {}));
  EXPECT_EQ(readFile(installer).size(), 300000u);
  server_.setRule("/file.bin", R"({"drop_after": 1000})");
  EXPECT_FALSE(HttpDownloader::getInstaller(check, manifest, {}));
  EXPECT_FALSE(exists(installer));
}

TEST_F(HttpDownloaderTest, ProgressCallbackResultIsIgnored) {
  const ProgressCallback refuses = [](int) { return false; };
  EXPECT_TRUE(HttpDownloader::transfer(server_.url("/file.bin"), out(),
                                       HttpDownloader::kNoLimit, &refuses));
}

struct LimitCase {
  const char* name;
  const char* rule;  // the server's rule for /m
  bool ok;
  const char* entry;   // the error entry; empty for none
  bool exact = false;  // the body must be exactly the limit (a named size)
};

class ManifestLimitTest : public HttpDownloaderTest,
                          public ::testing::WithParamInterface<LimitCase> {};

// A body over the limit ends the transfer as soon as it passes it, whether
// or not its length was announced, and leaves no more than the limit.
TEST_P(ManifestLimitTest, BodyPastTheLimitFailsEarly) {
  server_.setRule("/m", GetParam().rule);
  EXPECT_EQ(HttpDownloader::transfer(server_.url("/m"), out(),
                                     HttpDownloader::kManifestLimit, nullptr,
                                     GetParam().exact)
                .ok,
            GetParam().ok);
  EXPECT_LE(readFile(work_.file("out.bin")).size(),
            HttpDownloader::kManifestLimit);
  if (GetParam().entry[0] == '\0') {
    EXPECT_EQ(log(), "");
  } else {
    EXPECT_THAT(log(), HasSubstr(GetParam().entry));
  }
}

const LimitCase kLimits[] = {
    {"ExactlyTheLimit", R"({"body_size": 1048576})", true, ""},
    {"OneByteOverAnnounced", R"({"body_size": 1048577})", false,
     "failed: 63 (Maximum file size exceeded)"},
    {"OverUnannounced", R"({"body_size": 2097152, "length": "none"})", false,
     "failed: 23 ("},
    {"HugeChunked", R"({"body_size": 1610612736, "length": "chunked"})", false,
     "failed: 23 ("},
    {"ExactSize", R"({"body_size": 1048576})", true, "", true},
    {"ShorterThanTheNamedSize", R"({"body_size": 1000})", false,
     "[ERROR] The download's size 1000 is not the size the "
     "manifest names (1048576).\r\n",
     true},
    {"OneBytePastTheNamedSize", R"({"body_size": 1048577, "length": "none"})",
     false, "failed: 23 (", true},
};

INSTANTIATE_TEST_SUITE_P(Table, ManifestLimitTest, ::testing::ValuesIn(kLimits),
                         testing_support::CaseName());

TEST_F(HttpDownloaderTest, OnlyWebProtocolsAreFetched) {
  writeFile(root_.file("local.txt"), "local");
  const std::string fileUrl = "file://" + root_.file("local.txt");
  EXPECT_FALSE(HttpDownloader::transfer(fileUrl, out()));
  EXPECT_THAT(log(), HasSubstr("failed: 1 ("));
}

TEST_F(HttpDownloaderTest, UntrustedServerCertificateIsRefused) {
  TempDir tls;
  LocalServer server(root_.path(), tls.path());
  EXPECT_FALSE(HttpDownloader::transfer(server.url("/small.txt"), out()));
  EXPECT_THAT(log(), HasSubstr("curl_easy_perform() failed: 60 ("));
}

struct PercentCase {
  const char* name;
  std::int64_t total;
  std::int64_t now;
  int percent;
};

class OnProgressTest : public ::testing::TestWithParam<PercentCase> {};

TEST_P(OnProgressTest, TruncatedPercentageOfTheKnownTotal) {
  int seen = -1;
  ProgressCallback progress = [&seen](int p) {
    seen = p;
    return true;
  };
  EXPECT_EQ(HttpDownloader::onProgress(&progress, GetParam().total,
                                       GetParam().now, 0, 0),
            0);
  EXPECT_EQ(seen, GetParam().percent);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OnProgressTest,
    ::testing::Values(PercentCase{"NothingKnown", 0, 0, 0},
                      PercentCase{"TotalUnknown", 0, 500, 0},
                      PercentCase{"NothingYet", 1000, 0, 0},
                      PercentCase{"JustBelowAll", 1000, 999, 99},
                      PercentCase{"All", 1000, 1000, 100},
                      PercentCase{"Truncated", 3, 1, 33},
                      PercentCase{"MoreThanAnnounced", 1000, 1500, 150},
                      PercentCase{"LargeTotal", std::int64_t{1} << 40,
                                  (std::int64_t{1} << 39) + 1, 50}),
    testing_support::CaseName());

TEST(OnProgressTest, NoOrEmptyCallbackIsSkipped) {
  ProgressCallback empty;
  EXPECT_EQ(HttpDownloader::onProgress(&empty, 10, 5, 0, 0), 0);
  EXPECT_EQ(HttpDownloader::onProgress(nullptr, 10, 5, 0, 0), 0);
}

}  // namespace

// What the release check prints of libcurl's verbose output: the lines as
// libcurl prints them, with no credential's value and no control sequence.
TEST(MaskedTraceTest, CredentialsNeverShow) {
  const struct {
    curl_infotype kind;
    const char* data;
    const char* shown;
  } table[] = {
      {CURLINFO_TEXT, "Connected to h\n", "* Connected to h\r\n"},
      {CURLINFO_TEXT, "a\rb\nc\r\n", "* a?b?c\r\n"},
      {CURLINFO_HEADER_IN, "HTTP/1.1 407 Auth\r\n", "< HTTP/1.1 407 Auth\r\n"},
      {CURLINFO_HEADER_OUT,
       "GET http://h/x HTTP/1.1\r\nHost: h\r\nProxy-Authorization: Basic "
       "YW5uOnMzY3JldA==\r\nAccept: */*\r\n\r\n",
       "> GET http://h/x HTTP/1.1\r\n> Host: h\r\n> Proxy-Authorization: "
       "****\r\n> Accept: */*\r\n> \r\n"},
      {CURLINFO_HEADER_OUT,
       "CONNECT h:443 HTTP/1.1\r\nproxy-authorization: NTLM TlRM\r\n",
       "> CONNECT h:443 HTTP/1.1\r\n> proxy-authorization: ****\r\n"},
      {CURLINFO_HEADER_OUT, "AUTHORIZATION: Basic dTpw",
       "> AUTHORIZATION: ****"},
      {CURLINFO_HEADER_IN,
       "X-Evil: \x1b]0;owned\x07\x9b"
       "2J\tok\r\n",
       "< X-Evil: ?]0;owned??2J?ok\r\n"},
      {CURLINFO_HEADER_IN, "X-Cache: HIT\rVerdict: forged\r\r\n",
       "< X-Cache: HIT?Verdict: forged?\r\n"},
      {CURLINFO_HEADER_IN, "X-Bare: lf\n", "< X-Bare: lf\r\n"},
      {CURLINFO_DATA_OUT, "user=ann&password=s3cret", ""},
      {CURLINFO_DATA_IN, "body", ""},
      {CURLINFO_SSL_DATA_OUT, "\x16\x03", ""},
  };
  for (const auto& row : table) {
    EXPECT_EQ(HttpDownloader::maskedTrace(row.kind, row.data), row.shown)
        << row.data;
  }
}
