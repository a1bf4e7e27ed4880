// The updater log, byte for byte.
#include "config/logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>

#include "common/text.h"
#include "config/util.h"
#include "fakes/fake_platform.h"
#include "unit/test_support.h"

namespace {

using testing_support::readFile;
using testing_support::TempDir;

using tsdlm::widenBytes;

// The clock stands at 2026-12-07 06:00:37.
class LoggerTest : public testing_support::PlatformTest {
 protected:
  TempDir dir_;
  std::string temp_ = dir_.file("temp.log");
  std::string shared_ = dir_.file("shared.log");
  // Writes through a logger of both files, closed at the end.
  void logged(const std::function<void(Logger&)>& write) {
    Logger logger(widenBytes(temp_), widenBytes(shared_));
    write(logger);
  }
};

TEST_F(LoggerTest, EntriesAreTimestampThenMessageInBothFiles) {
  logged([](Logger& logger) {
    logger.write("Successfully downloaded update.xml\r\n");
    logger.writeError("Cannot download update.xml, return now\r\n");
  });
  const std::string expected =
      "2026-12-07 06:00:37  Successfully downloaded update.xml\r\n"
      "2026-12-07 06:00:37  [ERROR] Cannot download update.xml, return now\r\n";
  EXPECT_EQ(readFile(temp_), expected);
  EXPECT_EQ(readFile(shared_), expected);
}

TEST_F(LoggerTest, MessageWithoutLineEndIsFollowedByNextTimestamp) {
  logged([](Logger& logger) {
    logger.write("INFO: Installer not downloaded!");
    logger.write("INFO: next\r\n");
  });
  EXPECT_EQ(readFile(temp_),
            "2026-12-07 06:00:37  INFO: Installer not downloaded!"
            "2026-12-07 06:00:37  INFO: next\r\n");
}

TEST_F(LoggerTest, OpeningTruncatesEarlierContent) {
  testing_support::writeFile(temp_, "old run\r\n");
  logged([](Logger&) {});
  EXPECT_EQ(readFile(temp_), "");
}

// A shared log that leads elsewhere (a link at it or at one of its folders,
// seen in its final path), is a link itself or has a second name is neither
// emptied nor written; the temporary log says so.
TEST_F(LoggerTest, SharedLogLeadingElsewhere) {
  const std::wstring doc = L"C:\\Users\\u\\doc.txt";
  const std::wstring shared = widenBytes(shared_);
  const struct {
    std::wstring finalPath;
    bool reparsePoint;
    std::uint32_t names;
    std::string shown;  // final path and names in the entry
  } rows[] = {{doc, false, 1, "C:\\Users\\u\\doc.txt, 1"},
              {shared, true, 1, shared_ + ", 1"},
              {shared, false, 2, shared_ + ", 2"}};
  for (const auto& row : rows) {
    testing_support::writeFile(shared_, "a document\r\n");
    fake::files().finalPaths[shared] = row.finalPath;
    fake::files().links[shared] = row.names;
    if (row.reparsePoint) fake::files().reparsePoints.insert(shared);
    logged([](Logger& logger) { logger.write("a\r\n"); });
    EXPECT_EQ(readFile(shared_), "a document\r\n");
    EXPECT_EQ(readFile(temp_), "2026-12-07 06:00:37  [ERROR] The shared log " +
                                   shared_ + " is a link (final path " +
                                   row.shown +
                                   " names); it is not written.\r\n"
                                   "2026-12-07 06:00:37  a\r\n");
  }
}

TEST_F(LoggerTest, EachEntryIsOnDiskAtOnce) {
  Logger logger(widenBytes(temp_), widenBytes(shared_));
  logger.write("first\r\n");
  EXPECT_EQ(readFile(temp_), "2026-12-07 06:00:37  first\r\n");
  EXPECT_EQ(readFile(shared_), "2026-12-07 06:00:37  first\r\n");
}

TEST_F(LoggerTest, OneUnwritableFileDoesNotStopTheOther) {
  const std::string missing = dir_.file("no-such-folder/x.log");
  {
    Logger logger(widenBytes(missing), widenBytes(shared_));
    logger.write("a\r\n");
  }
  EXPECT_EQ(readFile(shared_), "2026-12-07 06:00:37  a\r\n");
  {
    Logger logger(L"", widenBytes(temp_));
    logger.writeError("b\r\n");
  }
  EXPECT_EQ(readFile(temp_), "2026-12-07 06:00:37  [ERROR] b\r\n");
}

TEST_F(LoggerTest, WritesAfterCloseAreDropped) {
  Logger logger(widenBytes(temp_), widenBytes(shared_));
  logger.write("kept\r\n");
  logger.close();
  logger.write("dropped\r\n");
  EXPECT_EQ(readFile(temp_), "2026-12-07 06:00:37  kept\r\n");
}

TEST_F(LoggerTest, RealTimestampHasTheFixedShape) {
  fake::clock().fixed = false;
  EXPECT_TRUE(
      std::regex_match(Logger::timestamp(),
                       std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}  )")));
}

TEST_F(LoggerTest, FailedLocalTimeStillWritesTheEntry) {
  fake::clock().fails = true;
  logged([](Logger& logger) { logger.write("x\r\n"); });
  const std::string content = readFile(temp_);
  ASSERT_GE(content.size(), 3u);
  EXPECT_EQ(content.substr(content.size() - 3), "x\r\n");
}

using LogPathsTest = testing_support::PlatformTest;

TEST_F(LogPathsTest, TempAndSharedLogsAreCreatedInTheirFolders) {
  TempDir dir;
  fake::files().tempPath = dir.wpath() + L"\\";
  fake::files().publicDocuments = dir.wpath() + L"\\Public Documents";
  ASSERT_TRUE(std::filesystem::create_directory(dir.file("Public Documents")));

  EXPECT_EQ(Util::getTempLogPath(), dir.wpath() + L"\\TsDLM\\TsDLMUpdater.log");
  EXPECT_TRUE(testing_support::exists(dir.file("TsDLM")));
  EXPECT_EQ(
      Util::getSharedLogPath(),
      dir.wpath() + L"\\Public Documents\\Tessarin\\TsDLM\\TsDLMUpdater.log");
  EXPECT_TRUE(
      testing_support::exists(dir.file("Public Documents/Tessarin/TsDLM")));
}

// The release check's log: every message as given, no timestamp, no file.
TEST_F(LoggerTest, InMemoryMessagesAreKeptUntilTakenAndNoFileIsOpened) {
  Logger logger;
  logger.write("a\r\n");
  logger.writeError("b");
  EXPECT_EQ(logger.takeEntries(),
            (std::vector<std::string>{"a\r\n", "[ERROR] b"}));
  EXPECT_EQ(logger.takeEntries(), std::vector<std::string>());
  logger.close();
  // Too late once the process's log exists: it keeps its files.
  (void)Logger::instance();
  RunOptions check;
  check.mode = RunOptions::Mode::kCheck;
  EXPECT_FALSE(Logger::start(check));
  EXPECT_TRUE(fake::files().opened.empty());
}

TEST_F(LogPathsTest, UnknownFoldersGiveEmptyPaths) {
  EXPECT_EQ(Util::getTempLogPath(), L"");
  EXPECT_EQ(Util::getSharedLogPath(), L"");
}

}  // namespace
