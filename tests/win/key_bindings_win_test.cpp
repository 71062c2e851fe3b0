// The accelerator table a viewer window translates its keys with.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "settings/key_bindings_win.h"

namespace {

using pv::KeyBinding;

static_assert(pv::vk::kBack == VK_BACK && pv::vk::kTab == VK_TAB && pv::vk::kReturn == VK_RETURN &&
              pv::vk::kEscape == VK_ESCAPE && pv::vk::kSpace == VK_SPACE && pv::vk::kPageUp == VK_PRIOR &&
              pv::vk::kPageDown == VK_NEXT && pv::vk::kEnd == VK_END && pv::vk::kHome == VK_HOME &&
              pv::vk::kLeft == VK_LEFT && pv::vk::kUp == VK_UP && pv::vk::kRight == VK_RIGHT &&
              pv::vk::kDown == VK_DOWN && pv::vk::kInsert == VK_INSERT && pv::vk::kDelete == VK_DELETE &&
              pv::vk::kNumPadAdd == VK_ADD && pv::vk::kNumPadSubtract == VK_SUBTRACT && pv::vk::kF1 == VK_F1);

std::vector<ACCEL> Entries(const pv::AcceleratorTable& table) {
  int n = CopyAcceleratorTableW(table.get(), nullptr, 0);
  std::vector<ACCEL> entries(n > 0 ? n : 0);
  if (n > 0) CopyAcceleratorTableW(table.get(), entries.data(), n);
  return entries;
}

BYTE Flags(uint8_t modifiers) {
  return static_cast<BYTE>(FVIRTKEY | (modifiers & pv::kKeyShift ? FSHIFT : 0) |
                           (modifiers & pv::kKeyCtrl ? FCONTROL : 0) | (modifiers & pv::kKeyAlt ? FALT : 0));
}

TEST(KeyAccelerators, BuiltInTable) {
  pv::AcceleratorTable table = pv::BuildAcceleratorTable(pv::kBuiltInKeyBindings, pv::kBuiltInKeyBindingCount);
  ASSERT_TRUE(table);
  std::vector<ACCEL> entries = Entries(table);
  ASSERT_EQ(entries.size(), pv::kBuiltInKeyBindingCount);
  for (size_t i = 0; i < entries.size(); ++i) {
    const KeyBinding& b = pv::kBuiltInKeyBindings[i];
    EXPECT_EQ(entries[i].fVirt & ~0x80, Flags(b.modifiers)) << i;
    EXPECT_EQ(entries[i].key, b.key) << i;
    EXPECT_EQ(entries[i].cmd, b.command) << i;
  }
  // Spot checks against the system's own names for the keys.
  EXPECT_EQ(entries[2].key, VK_NEXT);
  EXPECT_EQ(entries[72].fVirt & ~0x80, FVIRTKEY | FCONTROL | FALT);
}

TEST(KeyAccelerators, StoredSet) {
  struct Case {
    const char* what;
    std::vector<KeyBinding> bindings;
    std::vector<ACCEL> expected;
  };
  const Case cases[] = {
      {"user set",
       {{pv::kKeyShift | pv::kKeyAlt, 'Q', 20064}, {0, VK_DELETE, 20042}},
       {{FVIRTKEY | FSHIFT | FALT, 'Q', 20064}, {FVIRTKEY, VK_DELETE, 20042}}},
      {"unusable records left out",
       {{0, 0, 20001}, {0, 'K', 20068}, {8, 'L', 20001}, {pv::kKeyCtrl, 'M', 20013}},
       {{FVIRTKEY | FCONTROL, 'M', 20013}}},
      {"nothing usable", {{0, 0, 20001}}, {}},
  };
  for (const Case& c : cases) {
    pv::AcceleratorTable table = pv::BuildAcceleratorTable(c.bindings.data(), c.bindings.size());
    EXPECT_EQ(static_cast<bool>(table), !c.expected.empty()) << c.what;
    std::vector<ACCEL> entries = table ? Entries(table) : std::vector<ACCEL>();
    ASSERT_EQ(entries.size(), c.expected.size()) << c.what;
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].fVirt & ~0x80, c.expected[i].fVirt) << c.what;
      EXPECT_EQ(entries[i].key, c.expected[i].key) << c.what;
      EXPECT_EQ(entries[i].cmd, c.expected[i].cmd) << c.what;
    }
  }
}

TEST(KeyAccelerators, FrozenTable) {
  std::vector<KeyBinding> kept = pv::FrozenWindowBindings(pv::kBuiltInKeyBindings, pv::kBuiltInKeyBindingCount);
  pv::AcceleratorTable table = pv::BuildAcceleratorTable(kept.data(), kept.size());
  std::vector<ACCEL> entries = Entries(table);
  ASSERT_EQ(entries.size(), 17u);
  EXPECT_EQ(entries[0].cmd, 20033);
  EXPECT_EQ(entries[0].key, 'F');
  EXPECT_EQ(entries[16].cmd, 20064);
}

TEST(KeyAccelerators, KeyNames) {
  struct Case {
    KeyBinding binding;
    bool longForm;
    const wchar_t* text;
  };
  const Case cases[] = {
      {{0, 'O', 20000}, true, L"O"},
      {{pv::kKeyCtrl | pv::kKeyAlt, 'X', 20063}, true, L"Ctrl-Alt-X"},
      {{pv::kKeyShift, '7', 20022}, false, L"s-7"},
      {{pv::kKeyCtrl, VK_F1 + 4, 20034}, true, L"Ctrl-F5"},
  };
  wchar_t text[64];
  for (const Case& c : cases) {
    EXPECT_EQ(pv::FormatKeyName(c.binding, text, std::size(text), c.longForm), wcslen(c.text));
    EXPECT_STREQ(text, c.text);
  }
  // System names: one capital, the rest small; extended keys are not taken
  // for their numeric-pad twins.
  for (UINT key : {VK_NEXT, VK_HOME, VK_LEFT, VK_INSERT, VK_DELETE, VK_ESCAPE, VK_RETURN}) {
    size_t n = pv::FormatKeyName({pv::kKeyAlt, static_cast<uint8_t>(key), 20000}, text, std::size(text), true);
    ASSERT_GT(n, 5u) << key;
    EXPECT_EQ(std::wstring(text, 4), L"Alt-") << key;
    EXPECT_TRUE(std::all_of(text + 5, text + n, [](wchar_t c) { return !(c >= L'A' && c <= L'Z'); })) << key;
    wchar_t system[64];
    LONG scan = static_cast<LONG>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
    GetKeyNameTextW(scan, system, 64);
    if (key != VK_ESCAPE && key != VK_RETURN) {
      EXPECT_NE(_wcsicmp(text + 4, system), 0) << key;
    }
  }
}

}  // namespace
