// The accelerator table a viewer window translates its keys with, and the
// key names of the menus.
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

// Flags, key and command of each entry as the system holds them.
std::vector<std::wstring> Entries(const std::vector<KeyBinding>& bindings) {
  pv::AcceleratorTable table = pv::BuildAcceleratorTable(bindings.data(), bindings.size());
  int n = table ? CopyAcceleratorTableW(table.get(), nullptr, 0) : 0;
  std::vector<ACCEL> entries(n);
  if (n > 0) CopyAcceleratorTableW(table.get(), entries.data(), n);
  std::vector<std::wstring> out;
  for (const ACCEL& a : entries) {
    // 0x80 marks the last entry of a stored table.
    out.push_back(std::to_wstring(a.fVirt & 0x7F) + L' ' + std::to_wstring(a.key) + L' ' + std::to_wstring(a.cmd));
  }
  return out;
}

std::wstring Entry(BYTE flags, WORD key, WORD command) {
  return std::to_wstring(flags) + L' ' + std::to_wstring(key) + L' ' + std::to_wstring(command);
}

TEST(KeyAccelerators, TablesAndKeyNames) {
  EXPECT_EQ(Entries({pv::kBuiltInKeyBindings, pv::kBuiltInKeyBindings + pv::kBuiltInKeyBindingCount}).size(),
            pv::kBuiltInKeyBindingCount);
  struct Case { const char* what; std::vector<KeyBinding> bindings; std::vector<std::wstring> expected; };
  const Case cases[] = {
      {"user set",
       {{pv::kKeyShift | pv::kKeyAlt, 'Q', 20064}, {0, VK_DELETE, 20042}},
       {Entry(FVIRTKEY | FSHIFT | FALT, 'Q', 20064), Entry(FVIRTKEY, VK_DELETE, 20042)}},
      {"unusable records left out",
       {{0, 0, 20001}, {0, 'K', 20068}, {8, 'L', 20001}, {pv::kKeyCtrl, 'M', 20013}},
       {Entry(FVIRTKEY | FCONTROL, 'M', 20013)}},
      {"nothing usable", {{0, 0, 20001}}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Entries(c.bindings), c.expected) << c.what;

  SCOPED_TRACE("key names");
  wchar_t text[64];
  const std::pair<KeyBinding, std::wstring> names[] = {
      {{pv::kKeyCtrl | pv::kKeyAlt, 'X', 20063}, L"Ctrl-Alt-X"},
      {{pv::kKeyShift, '7', 20022}, L"Shift-7"},
      {{pv::kKeyCtrl, VK_F1 + 4, 20034}, L"Ctrl-F5"},
  };
  for (const auto& [binding, name] : names) {
    EXPECT_EQ(pv::FormatKeyName(binding, text, std::size(text), true), name.size());
    EXPECT_EQ(text, name);
  }
  // System names: one capital, the rest small; extended keys are not taken
  // for their numeric-pad twins.
  for (UINT key : {VK_NEXT, VK_HOME, VK_LEFT, VK_INSERT, VK_DELETE, VK_ESCAPE}) {
    size_t n = pv::FormatKeyName({pv::kKeyAlt, static_cast<uint8_t>(key), 20000}, text, std::size(text), false);
    ASSERT_GT(n, 3u) << key;
    EXPECT_EQ(std::wstring(text, 2), L"a-") << key;
    EXPECT_TRUE(std::none_of(text + 3, text + n, [](wchar_t c) { return c >= L'A' && c <= L'Z'; })) << key;
    wchar_t padName[64] = {};
    GetKeyNameTextW(static_cast<LONG>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16, padName, 64);
    if (key != VK_ESCAPE) {
      EXPECT_NE(_wcsicmp(text + 2, padName), 0) << key;
    }
  }
}

}  // namespace
