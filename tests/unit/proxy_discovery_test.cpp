// Proxy discovery: the order of the sources and what each gives.
#include "proxy/proxy_discovery.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "fakes/fake_platform.h"
#include "unit/test_support.h"

namespace {

using testing_support::operator<<;
using namespace TSRN::ProxyManager;
using platform::ProxyForUrlResult;

const wchar_t kTarget[] = L"https://example.com/update.xml";
const wchar_t kPac[] = L"http://127.0.0.1:8080/proxy.pac";

fake::AutoProxyAnswer answers(const wchar_t* proxy) {
  return {ProxyForUrlResult::ok, 0, {std::wstring(proxy), std::wstring(L"")}};
}
fake::AutoProxyAnswer direct() { return {ProxyForUrlResult::ok, 0, {}}; }
fake::AutoProxyAnswer fails(std::uint32_t code) {
  return {ProxyForUrlResult::getProxyForUrlFailed, code, {}};
}

struct DiscoveryCase {
  const char* name;
  // The user's settings.
  bool autoDetect = false;
  std::optional<std::wstring> pacUrl;
  std::optional<std::wstring> fixedList;
  bool ieFails = false;
  // Automatic lookups.
  std::optional<fake::AutoProxyAnswer> wpad;
  std::optional<fake::AutoProxyAnswer> script;
  std::optional<std::wstring> wpadSwitch;  // TSRN_TSRN_WPAD_PROXY_CHECK
  // The WinHTTP default configuration.
  std::optional<std::wstring> defaultList;
  bool defaultFails = false;
  // Expected.
  PMStatus status = PM_STATUS_SUCCESS;
  std::wstring list;
  int wpadLookups;
  int scriptLookups;
  int defaultReads;
};

using DiscoveryTable = testing_support::PlatformTableTest<DiscoveryCase>;

TEST_P(DiscoveryTable, FirstSourceWithAListWins) {
  const DiscoveryCase& c = GetParam();
  fake::WinHttpProxyState& winhttp = fake::winHttpProxy();
  winhttp.ie.autoDetect = c.autoDetect;
  winhttp.ie.autoConfigUrl = c.pacUrl;
  winhttp.ie.proxy = c.fixedList;
  winhttp.ie.proxyBypass = L"<local>";
  winhttp.ieFails = c.ieFails;
  winhttp.ieError = 12004;
  if (c.wpad) winhttp.wpad = *c.wpad;
  if (c.script) winhttp.scripts[kPac] = *c.script;
  if (c.wpadSwitch) {
    fake::environment().variables["TSRN_TSRN_WPAD_PROXY_CHECK"] = *c.wpadSwitch;
  }
  winhttp.defaults.proxy = c.defaultList;
  winhttp.defaults.proxyBypass = L"*.local";
  winhttp.defaultFails = c.defaultFails;

  std::wstring list = L"stale";
  EXPECT_EQ(ProxyDiscovery(kTarget).DiscoverProxyConfiguration(list), c.status);
  EXPECT_TRUE(list == c.list);

  int wpadLookups = 0;
  int scriptLookups = 0;
  for (const fake::AutoProxyCall& call : winhttp.autoCalls) {
    EXPECT_TRUE(call.url == kTarget);
    EXPECT_TRUE(call.options.autoLogonIfChallenged);
    EXPECT_GT(call.options.timeLimitMs, 0u);
    EXPECT_LE(call.options.timeLimitMs, ProxyDiscovery::kScriptLimitMs);
    if (call.options.flags == 0x00010001u) {
      EXPECT_EQ(call.options.autoDetectFlags, 3u);
      EXPECT_TRUE(call.options.autoConfigUrl.empty());
      ++wpadLookups;
    } else {
      EXPECT_EQ(call.options.flags, 2u);
      EXPECT_EQ(call.options.autoDetectFlags, 0u);
      EXPECT_TRUE(call.options.autoConfigUrl == kPac);
      ++scriptLookups;
    }
  }
  EXPECT_EQ(wpadLookups, c.wpadLookups);
  EXPECT_EQ(scriptLookups, c.scriptLookups);
  EXPECT_EQ(winhttp.defaultCalls, c.defaultReads);
}

std::vector<DiscoveryCase> scenarios() {
  std::vector<DiscoveryCase> all;
  const auto add = [&all](const char* name,
                          const std::function<void(DiscoveryCase&)>& set) {
    DiscoveryCase c{};
    c.name = name;
    set(c);
    all.push_back(c);
  };
  add("fixed_list", [](DiscoveryCase& c) {
    c.fixedList = L"http=p1:80;https=p2:443";
    c.list = L"http=p1:80;https=p2:443";
  });
  add("wpad_beats_script_and_fixed_list", [](DiscoveryCase& c) {
    c.autoDetect = true;
    c.pacUrl = kPac;
    c.fixedList = L"fixed:1";
    c.wpad = answers(L"wpad:3128");
    c.script = answers(L"pac:8080");
    c.list = L"wpad:3128";
    c.wpadLookups = 1;
  });
  // Only "false" in any letter case turns WPAD off.
  for (const auto& [name, value, off] :
       {std::tuple{"wpad_off_script_still_used", L"false", true},
        std::tuple{"wpad_OFF_script_still_used", L"FALSE", true},
        std::tuple{"wpad_Off_script_still_used", L"False", true},
        std::tuple{"wpad_switch_0_keeps_wpad", L"0", false},
        std::tuple{"wpad_switch_no_keeps_wpad", L"no", false},
        std::tuple{"wpad_switch_TRUE_keeps_wpad", L"TRUE", false}}) {
    add(name, [value = value, off = off](DiscoveryCase& c) {
      c.autoDetect = true;
      c.pacUrl = kPac;
      c.wpad = answers(L"wpad:3128");
      c.script = answers(L"pac:8080");
      c.wpadSwitch = value;
      c.list = off ? L"pac:8080" : L"wpad:3128";
      c.wpadLookups = off ? 0 : 1;
      c.scriptLookups = off ? 1 : 0;
    });
  }
  add("wpad_fails_then_script", [](DiscoveryCase& c) {
    c.autoDetect = true;
    c.pacUrl = kPac;
    c.script = answers(L"pac:8080");
    c.list = L"pac:8080";
    c.wpadLookups = 1;
    c.scriptLookups = 1;
  });
  // A script that answers "direct", cannot be fetched or has not arrived in
  // time counts as none.
  for (const auto& [name, answer] :
       {std::pair{"script_direct_falls_to_fixed_list", direct()},
        std::pair{"script_unreachable_falls_to_fixed_list", fails(12167)},
        std::pair{"script_not_in_time_falls_to_fixed_list",
                  fake::AutoProxyAnswer{ProxyForUrlResult::timedOut, 0, {}}}}) {
    add(name, [answer = answer](DiscoveryCase& c) {
      c.pacUrl = kPac;
      c.fixedList = L"fixed:1";
      c.script = answer;
      c.list = L"fixed:1";
      c.scriptLookups = 1;
    });
  }
  add("empty_fixed_list_counts_as_present", [](DiscoveryCase& c) {
    c.fixedList = L"";
    c.defaultList = L"default:80";
    c.list = L"";
  });
  add("empty_script_url_is_still_asked_for", [](DiscoveryCase& c) {
    c.pacUrl = L"";
    c.defaultList = L"default:80";
    c.list = L"default:80";
    c.defaultReads = 1;
  });
  add("winhttp_default", [](DiscoveryCase& c) {
    c.autoDetect = true;
    c.wpadSwitch = L"false";
    c.defaultList = L"default:80";
    c.list = L"default:80";
    c.defaultReads = 1;
  });
  add("nothing_configured", [](DiscoveryCase& c) {
    c.status = PM_STATUS_NO_PROXY;
    c.defaultReads = 1;
  });
  add("ie_settings_fail_default_not_tried", [](DiscoveryCase& c) {
    c.ieFails = true;
    c.defaultList = L"default:80";
    c.status = PM_STATUS_FAILURE;
  });
  add("default_configuration_fails", [](DiscoveryCase& c) {
    c.defaultFails = true;
    c.status = PM_STATUS_FAILURE;
    c.defaultReads = 1;
  });
  return all;
}

INSTANTIATE_TEST_SUITE_P(Sources, DiscoveryTable,
                         ::testing::ValuesIn(scenarios()),
                         testing_support::CaseName());

using AutoDetect = testing_support::PlatformTest;

TEST_F(AutoDetect, NeitherFlagNorScriptAsksNothing) {
  std::wstring list = L"stale";
  EXPECT_FALSE(ProxyDiscovery(kTarget).AutoDetectProxyInfo(false, L"", list));
  EXPECT_TRUE(fake::winHttpProxy().autoCalls.empty());
}

TEST_F(AutoDetect, SessionFailureIsNoList) {
  fake::winHttpProxy().scripts[kPac] = {ProxyForUrlResult::openFailed, 8, {}};
  std::wstring list = L"stale";
  EXPECT_FALSE(ProxyDiscovery(kTarget).AutoDetectProxyInfo(false, kPac, list));
  EXPECT_TRUE(list.empty());
}

TEST_F(AutoDetect, ScriptAnswerIsTheList) {
  fake::winHttpProxy().scripts[kPac] = answers(L"p1:80;p2:81");
  std::wstring list;
  EXPECT_TRUE(ProxyDiscovery(kTarget).AutoDetectProxyInfo(false, kPac, list));
  EXPECT_TRUE(list == L"p1:80;p2:81");
}

}  // namespace
