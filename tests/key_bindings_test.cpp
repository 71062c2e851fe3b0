#include "settings/key_bindings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using pv::KeyBinding;
using pv::kBuiltInKeyBindings;
constexpr size_t kBuiltIn = pv::kBuiltInKeyBindingCount;

TEST(KeyBindings, BuiltInTable) {
  ASSERT_EQ(std::size(kBuiltInKeyBindings), 73u);
  std::set<std::pair<uint8_t, uint8_t>> keys;
  for (const KeyBinding& b : kBuiltInKeyBindings) {
    EXPECT_TRUE(pv::IsValidKeyBinding(b) && b.key != 0 && pv::CommandName(b.command)) << b.command;
    EXPECT_TRUE(keys.insert({b.modifiers, b.key}).second) << "key " << int{b.key} << " bound twice";
  }
  // Rows in the places the stored sets and the key page rely on.
  const std::pair<size_t, KeyBinding> rows[] = {
      {0, {0, 'O', 20000}},   {4, {pv::kKeyCtrl, pv::vk::kPageDown, 20006}}, {29, {pv::kKeyShift, 'X', 20045}},
      {36, {0, '1', 20016}},  {45, {0, '0', 20027}},  {53, {pv::kKeyAlt, pv::vk::kReturn, 20015}},
      {69, {0, pv::vk::kF1 + 11, 20037}},              {72, {pv::kKeyCtrl | pv::kKeyAlt, 'X', 20063}},
  };
  for (const auto& [index, binding] : rows) EXPECT_EQ(kBuiltInKeyBindings[index], binding) << index;

  for (uint32_t id = 20000; id <= 20064; ++id) EXPECT_TRUE(pv::CommandName(id) && *pv::CommandName(id)) << id;
  EXPECT_FALSE(pv::CommandName(19999) || pv::CommandName(20065));
  EXPECT_STREQ(pv::CommandName(20028), L"Rotate image -90\u00B0");
  EXPECT_STREQ(pv::CommandName(20030), L"Rotate image +90\u00B0");
}

TEST(KeyBindings, StoredForm) {
  std::vector<uint8_t> bytes = pv::SerializeKeyBindings(kBuiltInKeyBindings, kBuiltIn);
  ASSERT_EQ(bytes.size(), 73u * 4);
  // Modifiers, key, then the command little-endian (20063 = 0x4E5F).
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()), (std::vector<uint8_t>{6, 'X', 0x5F, 0x4E}));
  auto parsed = pv::ParseKeyBindings(bytes.data(), bytes.size(), kBuiltIn);
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(std::equal(parsed->begin(), parsed->end(), kBuiltInKeyBindings, kBuiltInKeyBindings + kBuiltIn));
  std::vector<KeyBinding> many(300, KeyBinding{pv::kKeyShift, 'Q', 20001});
  EXPECT_EQ(pv::SerializeKeyBindings(many.data(), many.size()).size(), 255u * 4);

  struct Damage {
    const char* what;
    size_t offset;  // byte set to `value`
    uint8_t value;
    size_t size, count;
  };
  const Damage cases[] = {
      {"size below the count", 0, 0, 72 * 4, 73},
      {"size above the count", 0, 0, 73 * 4, 72},
      {"count zero", 0, 0, 0, 0},
      {"first command zero", 3, 0, 4, 1},  // with byte 2 cleared too
      {"command above the keys' range", 10, 0x61, 73 * 4, 73},
      {"unknown modifier bit", 8, 0x08, 73 * 4, 73},
  };
  for (const Damage& d : cases) {
    std::vector<uint8_t> damaged = bytes;
    damaged[d.offset] = d.value;
    if (d.offset == 3) damaged[2] = 0;
    EXPECT_FALSE(pv::ParseKeyBindings(damaged.data(), d.size, d.count)) << d.what;
  }
  std::vector<uint8_t> tooMany = pv::SerializeKeyBindings(many.data(), 255);
  tooMany.insert(tooMany.end(), bytes.begin(), bytes.begin() + 4);
  EXPECT_FALSE(pv::ParseKeyBindings(tooMany.data(), tooMany.size(), 256));
}

TEST(KeyBindings, SetsAndFrozenList) {
  std::vector<KeyBinding> reversed(std::rbegin(kBuiltInKeyBindings), std::rend(kBuiltInKeyBindings));
  std::vector<KeyBinding> changed = reversed;
  changed[10].modifiers ^= pv::kKeyShift;
  EXPECT_TRUE(pv::SameKeyBindingSet(kBuiltInKeyBindings, kBuiltIn, reversed.data(), kBuiltIn));
  EXPECT_FALSE(pv::SameKeyBindingSet(kBuiltInKeyBindings, kBuiltIn, changed.data(), kBuiltIn));
  EXPECT_FALSE(pv::SameKeyBindingSet(changed.data(), kBuiltIn, kBuiltInKeyBindings, kBuiltIn));
  EXPECT_FALSE(pv::SameKeyBindingSet(kBuiltInKeyBindings, kBuiltIn, reversed.data(), kBuiltIn - 1));

  // A frozen window keeps exactly the keys of the commands it carries out.
  const std::vector<KeyBinding> kept = pv::FrozenWindowBindings(kBuiltInKeyBindings, kBuiltIn);
  const auto keeps = [&](const KeyBinding& b) {
    return std::any_of(kept.begin(), kept.end(), [&](const KeyBinding& k) { return k == b; });
  };
  for (const KeyBinding& b : kBuiltInKeyBindings) EXPECT_EQ(keeps(b), pv::FrozenWindowAccepts(b.command)) << b.command;
  EXPECT_EQ(kept.front().command, 20033);  // freezing again thaws: its key comes first
}

TEST(KeyBindings, KeyNames) {
  struct Case {
    uint8_t modifiers;
    const wchar_t* key;
    size_t capacity;
    bool longForm;
    const wchar_t* text;
  };
  const uint8_t all = pv::kKeyShift | pv::kKeyCtrl | pv::kKeyAlt;
  const Case cases[] = {
      {all, L"X", 32, true, L"Shift-Ctrl-Alt-X"},
      {all, L"X", 32, false, L"s-c-a-X"},
      {pv::kKeyCtrl | pv::kKeyAlt, L"Enter", 32, true, L"Ctrl-Alt-Enter"},
      // Only whole pieces, and always terminated.
      {all, L"X", 12, true, L"Shift-Ctrl-"},
      {pv::kKeyShift, L"Enter", 11, true, L"Shift-"},
      {pv::kKeyShift, L"Enter", 12, true, L"Shift-Enter"},
      {0, L"Tab", 1, true, L""},
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
