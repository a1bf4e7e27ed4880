// The analytics event store: line format, session rules, concurrency.
#include "analytics/usage_store.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "fakes/fake_platform.h"
#include "unit/test_support.h"

namespace {

using testing_support::readFile;
using testing_support::TempDir;

class UsageStoreTest : public ::testing::Test {
 protected:
  UsageStore makeStore() {
    return UsageStore([this] { return path_; },
                      [] { return std::string("2026-12-07T06:00:37Z"); },
                      [this] { return std::string(32, sessionDigit_++); });
  }
  std::vector<std::string> lines() {
    std::vector<std::string> result;
    std::istringstream in(readFile(dir_.file("events.jsonl")));
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }
  TempDir dir_;
  std::wstring path_ = dir_.wpath() + L"/events.jsonl";
  char sessionDigit_ = 'a';
};

TEST_F(UsageStoreTest, OneLinePerEventWithKeysInOrder) {
  UsageStore store = makeStore();
  store.initialize(L"Tessarin Download Manager", true);
  store.addCommonAttribute(L"app_name", L"TsDLMUpdater");
  store.addCommonAttribute(L"app_version", L"6.1.32.0");
  store.track(L"error_occurred", L"error_string",
              L"get installed version failed");
  EXPECT_EQ(readFile(dir_.file("events.jsonl")),
            "{\"session\":\"" + std::string(32, 'a') +
                "\",\"time\":\"2026-12-07T06:00:37Z\",\"product\":\"Tessarin "
                "Download Manager\",\"event\":\"error_occurred\",\"key\":"
                "\"error_string\",\"value\":\"get installed version failed\","
                "\"attributes\":{\"app_name\":\"TsDLMUpdater\",\"app_version\":"
                "\"6.1.32.0\"}}\n");
}

TEST_F(UsageStoreTest, EscapesJsonSpecialsAndWritesUtf8) {
  EXPECT_EQ(UsageStore::jsonString(L"a\"b\\c\n\r\t\x01\u00e9"),
            "\"a\\\"b\\\\c\\n\\r\\t\\u0001\xC3\xA9\"");
}

TEST_F(UsageStoreTest, NothingBeforeInitializeOrAfterUnInitialize) {
  UsageStore store = makeStore();
  store.track(L"early", L"", L"");
  store.initialize(L"P", true);
  store.track(L"kept", L"", L"");
  EXPECT_TRUE(store.unInitialize());
  store.track(L"late", L"", L"");
  store.addCommonAttribute(L"x", L"y");
  EXPECT_FALSE(store.unInitialize());
  ASSERT_EQ(lines().size(), 1u);
  EXPECT_NE(lines()[0].find("\"event\":\"kept\""), std::string::npos);
}

TEST_F(UsageStoreTest, CollectionOffDropsEvents) {
  UsageStore store = makeStore();
  store.initialize(L"P", false);
  store.track(L"dropped", L"", L"");
  EXPECT_FALSE(testing_support::exists(dir_.file("events.jsonl")));
}

TEST_F(UsageStoreTest, EachInitializeStartsANewSessionWithoutOldAttributes) {
  UsageStore store = makeStore();
  store.initialize(L"P", true);
  store.addCommonAttribute(L"a", L"1");
  store.addCommonAttribute(L"a", L"2");
  store.track(L"e1", L"", L"");
  store.unInitialize();
  store.initialize(L"P", true);
  store.track(L"e2", L"", L"");
  const auto all = lines();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_NE(all[0].find("\"session\":\"aaaa"), std::string::npos);
  EXPECT_NE(all[0].find("\"attributes\":{\"a\":\"2\"}"), std::string::npos);
  EXPECT_NE(all[1].find("\"session\":\"bbbb"), std::string::npos);
  EXPECT_NE(all[1].find("\"attributes\":{}"), std::string::npos);
}

TEST_F(UsageStoreTest, ConcurrentTracksGiveWholeLines) {
  UsageStore store = makeStore();
  store.initialize(L"P", true);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&store, t] {
      for (int i = 0; i < 50; ++i) {
        store.track(L"e", L"k", std::to_wstring(t * 100 + i));
        if (i == 25) store.addCommonAttribute(L"t", std::to_wstring(t));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto all = lines();
  ASSERT_EQ(all.size(), 200u);
  for (const auto& line : all) {
    EXPECT_EQ(line.front(), '{');
    EXPECT_EQ(line.substr(line.size() - 2), "}}");
  }
}

}  // namespace
