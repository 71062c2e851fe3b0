#include "settings/key_bindings.h"

#include <gtest/gtest.h>

#include <cwchar>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "settings/app_settings.h"

namespace {

using pv::KeyBinding;

TEST(KeyBindings, BuiltInTableBindsEachKeyOnceToANamedCommand) {
  std::set<std::pair<uint8_t, uint8_t>> keys;
  for (const KeyBinding& b : pv::kBuiltInKeyBindings) {
    EXPECT_TRUE(pv::IsValidKeyBinding(b) && b.key != 0 && pv::CommandName(b.command)) << b.command;
    EXPECT_TRUE(keys.insert({b.modifiers, b.key}).second) << "key " << int{b.key} << " bound twice";
  }
  // Bindable: 20000-20064 and the later 20069-20074; the program's own
  // messages between them are not.
  for (uint32_t id = 19999; id <= 20075; ++id) {
    const bool bindable = (id >= 20000 && id <= 20064) || (id >= 20069 && id <= 20074);
    EXPECT_EQ(pv::CommandName(id) != nullptr, bindable) << id;
    EXPECT_EQ(pv::IsValidKeyBinding({0, 'A', static_cast<uint16_t>(id)}), bindable) << id;
  }
}

TEST(KeyBindings, StoredSetsMustMatchTheirCount) {
  // Ctrl-C -> 20048 and Alt-X -> 20064, command ids little-endian.
  const std::vector<uint8_t> two = {2, 'C', 0x50, 0x4E, 4, 'X', 0x60, 0x4E};
  auto with = [&](size_t at, uint8_t v) {
    std::vector<uint8_t> b = two;
    b[at] = v;
    return b;
  };
  struct Case { const char* what; std::vector<uint8_t> stored; size_t count; bool valid; };
  std::vector<uint8_t> many;
  for (int i = 0; i < 256; ++i) many.insert(many.end(), two.begin(), two.begin() + 4);
  const Case cases[] = {
      {"two records", two, 2, true}, {"count too small", two, 1, false}, {"count too large", two, 3, false},
      {"count zero", {}, 0, false},
      {"first command 0", {2, 'C', 0, 0, 4, 'X', 0x60, 0x4E}, 2, false},
      {"command below the range", with(2, 0x1F), 2, false},
      {"command above the keys' range", with(6, 0x61), 2, false},
      {"unknown modifier bit", with(4, 8), 2, false}, {"key code 0 is kept", with(1, 0), 2, true},
      {"255 records", {many.begin(), many.end() - 4}, 255, true},
      {"more than 255", many, 256, false},
  };
  for (const Case& c : cases) {
    const auto parsed = pv::ParseKeyBindings(c.stored.data(), c.stored.size(), c.count);
    EXPECT_EQ(parsed.has_value(), c.valid) << c.what;
    EXPECT_EQ(pv::KeyBindingsValid(c.stored.data(), c.stored.size(), static_cast<uint32_t>(c.count)), c.valid)
        << c.what;
  }
  EXPECT_EQ(*pv::ParseKeyBindings(two.data(), two.size(), 2),
            (std::vector<KeyBinding>{{pv::kKeyCtrl, 'C', 20048}, {pv::kKeyAlt, 'X', 20064}}));
}

TEST(KeyBindings, FrozenWindowsKeepTheKeysOfTheirCommandsInTheirOrder) {
  const KeyBinding set[] = {{0, 'N', 20001}, {0, 'D', 20042}, {pv::kKeyCtrl, 'F', 20033}, {0, 'Q', 20064},
                            {pv::kKeyShift, 'M', 20001}};
  EXPECT_EQ(pv::FrozenWindowBindings(set, std::size(set)),
            (std::vector<KeyBinding>{set[2], set[0], set[4], set[3]}));
  const std::vector<KeyBinding> kept =
      pv::FrozenWindowBindings(pv::kBuiltInKeyBindings, pv::kBuiltInKeyBindingCount);
  for (const KeyBinding& b : pv::kBuiltInKeyBindings) {
    const bool keeps = std::find(kept.begin(), kept.end(), b) != kept.end();
    EXPECT_EQ(keeps, pv::FrozenWindowAccepts(b.command)) << b.command;
  }
}

TEST(KeyBindings, ApplyingAListStoresOnlyARealChange) {
  const std::vector<KeyBinding> builtIn(std::begin(pv::kBuiltInKeyBindings), std::end(pv::kBuiltInKeyBindings));
  std::vector<KeyBinding> reversed(builtIn.rbegin(), builtIn.rend()), edited = builtIn, many;
  edited[5] = {pv::kKeyAlt, 'Q', 20025};
  const std::vector<KeyBinding> editedReversed(edited.rbegin(), edited.rend());
  for (int i = 0; i < 300; ++i) many.push_back({0, static_cast<uint8_t>(i), static_cast<uint16_t>(20000 + i % 65)});
  struct Case { const char* what; std::vector<KeyBinding> start, listed; bool changed; size_t count; };
  const Case cases[] = {
      {"built-in in another order", {}, reversed, false, 0},
      {"one binding edited", {}, edited, true, 73},
      {"the same user set in another order", edited, editedReversed, false, 73},
      {"back to the built-in table", edited, reversed, true, 0},
      {"one binding fewer", {}, {builtIn.begin() + 1, builtIn.end()}, true, 72},
      {"300 kept as their first 255", {}, many, true, 255},
  };
  for (const Case& c : cases) {
    pv::AppSettings settings;
    if (!c.start.empty()) {
      ASSERT_TRUE(pv::ReplaceKeyBindings(settings, c.start)) << c.what;
    }
    EXPECT_EQ(pv::ReplaceKeyBindings(settings, c.listed), c.changed) << c.what;
    EXPECT_EQ(settings.options.keyBindingCount, c.count) << c.what;
    const std::vector<KeyBinding> active = pv::ActiveKeyBindings(settings);
    EXPECT_TRUE(pv::SameKeyBindingSet(active, c.count == 0 ? builtIn : std::span(c.listed).first(c.count))) << c.what;
    EXPECT_EQ(settings.keyBindings.size(), c.count * 4) << c.what;
    if (c.count && c.changed) {
      EXPECT_EQ(active[0], c.listed[0]) << c.what << ": stored in the list's order";
    }
  }
  // Recording: modifier keys alone are waited through; Ctrl and Shift held give 3.
  EXPECT_FALSE(pv::RecordedKey(0x10, true, false, false));
  EXPECT_FALSE(pv::RecordedKey(0x5B, false, false, false));
  EXPECT_EQ(pv::RecordedKey('K', true, true, false), (KeyBinding{3, 'K', 0}));
  EXPECT_EQ(pv::RecordedKey(0x73, false, false, true), (KeyBinding{pv::kKeyAlt, 0x73, 0}));
  const KeyBinding sample{pv::kKeyCtrl, 0x22, 20006};
  EXPECT_EQ(pv::UnpackKeyBinding(pv::PackKeyBinding(sample)), sample);
}

TEST(KeyBindings, KeyNames) {
  struct Case { uint8_t modifiers; const wchar_t* key; size_t capacity; bool longForm; const wchar_t* text; };
  const uint8_t all = pv::kKeyShift | pv::kKeyCtrl | pv::kKeyAlt;
  const Case cases[] = {
      {all, L"X", 32, true, L"Shift-Ctrl-Alt-X"}, {all, L"X", 32, false, L"s-c-a-X"},
      {pv::kKeyCtrl | pv::kKeyAlt, L"Enter", 32, true, L"Ctrl-Alt-Enter"},
      // Only whole pieces, and always terminated.
      {all, L"X", 12, true, L"Shift-Ctrl-"}, {pv::kKeyShift, L"Enter", 11, true, L"Shift-"},
      {pv::kKeyShift, L"Enter", 12, true, L"Shift-Enter"}, {0, L"Tab", 1, true, L""},
  };
  for (const Case& c : cases) {
    wchar_t buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(pv::ComposeKeyName(c.modifiers, c.key, buffer, c.capacity, c.longForm), wcslen(c.text));
    EXPECT_STREQ(buffer, c.text);
    EXPECT_EQ(buffer[c.capacity], L'#') << "wrote past the capacity";
  }
  const std::pair<std::wstring, std::wstring> names[] = {
      {L"PGDN", L"PgDn"}, {L"PGUP", L"PgUp"}, {L"NUM +", L"Num +"}, {L"\u00C4\u00C5\u00D6", L"\u00C4\u00E5\u00F6"}, {L"", L""},
  };
  for (auto [system, shown] : names) {
    pv::NormaliseKeyName(system.data());
    EXPECT_EQ(system, shown);
  }
}

}  // namespace
