#include "account/protection_settings.h"

#include <gtest/gtest.h>

#include "fakes/fake_settings.h"

namespace {

TEST(ProtectionSettings, OnUnlessAnExplicitZeroAndKeptAsWritten) {
  const struct {
    const char* name;
    // What the store holds before the read (absent when not written).
    std::optional<std::int32_t> leak, lan, reconnect;
    bool asText;  // written as a text value instead of a number
    ProtectionSettings expected;
  } cases[] = {
      {"nothing stored: all on", {}, {}, {}, false, {true, true, true}},
      {"each off by itself", 0, {}, {}, false, {false, true, true}},
      {"local network off", {}, 0, {}, false, {true, false, true}},
      {"reconnect off", {}, {}, 0, false, {true, true, false}},
      {"other numbers keep it on", 2, -1, 7, false, {true, true, true}},
      {"a text value is not a number: on", 0, 0, 0, true, {true, true, true}},
  };
  for (const auto& c : cases) {
    CScopedFakeSettings fake;
    auto put = [&](const wchar_t* name, const std::optional<std::int32_t>& value) {
      if (!value) return;
      if (c.asText)
        fake.Store().WriteString(L"Main", name, std::to_wstring(*value));
      else
        fake.Store().WriteInt(L"Main", name, *value);
    };
    put(L"LeakProtection", c.leak);
    put(L"AllowLocalNetwork", c.lan);
    put(L"AutoReconnect", c.reconnect);
    const ProtectionSettings read = ReadProtectionSettings();
    EXPECT_EQ(read.leakProtection, c.expected.leakProtection) << c.name;
    EXPECT_EQ(read.allowLocalNetwork, c.expected.allowLocalNetwork) << c.name;
    EXPECT_EQ(read.reconnect, c.expected.reconnect) << c.name;
  }
}

TEST(ProtectionSettings, WrittenChoicesReadBackOneByOne) {
  for (int bits = 0; bits < 8; ++bits) {
    CScopedFakeSettings fake;
    const ProtectionSettings written{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
    WriteProtectionSettings(written);
    const ProtectionSettings read = ReadProtectionSettings();
    EXPECT_EQ(read.leakProtection, written.leakProtection) << bits;
    EXPECT_EQ(read.allowLocalNetwork, written.allowLocalNetwork) << bits;
    EXPECT_EQ(read.reconnect, written.reconnect) << bits;
  }
}

}  // namespace
