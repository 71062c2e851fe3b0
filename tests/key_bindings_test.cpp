#include "settings/key_bindings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using pv::KeyBinding;
using pv::kBuiltInKeyBindings;
using pv::kBuiltInKeyBindingCount;

TEST(KeyBindings, BuiltInTable) {
  ASSERT_EQ(std::size(kBuiltInKeyBindings), 73u);
  std::set<std::pair<uint8_t, uint8_t>> keys;
  for (const KeyBinding& b : kBuiltInKeyBindings) {
    EXPECT_TRUE(pv::IsValidKeyBinding(b)) << b.command;
    EXPECT_NE(b.key, 0);
    EXPECT_NE(pv::CommandName(b.command), nullptr) << b.command;
    EXPECT_TRUE(keys.insert({b.modifiers, b.key}).second) << "key " << int{b.key} << " bound twice";
  }
  // Rows whose place and content the key page and the stored sets rely on.
  struct Row {
    size_t index;
    KeyBinding binding;
  };
  const Row rows[] = {
      {0, {0, 'O', 20000}},
      {4, {pv::kKeyCtrl, pv::vk::kPageDown, 20006}},
      {29, {pv::kKeyShift, 'X', 20045}},
      {36, {0, '1', 20016}},
      {44, {0, '9', 20024}},
      {45, {0, '0', 20027}},
      {53, {pv::kKeyAlt, pv::vk::kReturn, 20015}},
      {58, {0, pv::vk::kF1, 20062}},
      {69, {0, pv::vk::kF1 + 11, 20037}},
      {72, {pv::kKeyCtrl | pv::kKeyAlt, 'X', 20063}},
  };
  for (const Row& r : rows) EXPECT_EQ(kBuiltInKeyBindings[r.index], r.binding) << r.index;
}

TEST(KeyBindings, CommandNames) {
  for (uint32_t id = 20000; id <= 20064; ++id) {
    const wchar_t* name = pv::CommandName(id);
    ASSERT_NE(name, nullptr) << id;
    EXPECT_NE(name[0], 0) << id;
  }
  EXPECT_EQ(pv::CommandName(19999), nullptr);
  EXPECT_EQ(pv::CommandName(20065), nullptr);
  EXPECT_EQ(pv::CommandName(20068), nullptr);
  EXPECT_STREQ(pv::CommandName(20028), L"Rotate image -90\u00B0");
  EXPECT_STREQ(pv::CommandName(20029), L"Rotate image 180\u00B0");
  EXPECT_STREQ(pv::CommandName(20030), L"Rotate image +90\u00B0");
}

TEST(KeyBindings, StoredForm) {
  std::vector<uint8_t> bytes = pv::SerializeKeyBindings(kBuiltInKeyBindings, kBuiltInKeyBindingCount);
  ASSERT_EQ(bytes.size(), 73u * 4);
  // Modifiers, key, then the command little-endian (20000 = 0x4E20).
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0, 'O', 0x20, 0x4E}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()), (std::vector<uint8_t>{6, 'X', 0x5F, 0x4E}));
  auto parsed = pv::ParseKeyBindings(bytes.data(), bytes.size(), 73);
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(std::equal(parsed->begin(), parsed->end(), kBuiltInKeyBindings, kBuiltInKeyBindings + 73));

  std::vector<KeyBinding> many(300, KeyBinding{pv::kKeyShift, 'Q', 20001});
  EXPECT_EQ(pv::SerializeKeyBindings(many.data(), many.size()).size(), 255u * 4);

  struct Damage {
    const char* what;
    size_t offset;  // byte to overwrite, or SIZE_MAX for none
    uint8_t value;
    size_t size;
    size_t count;
  };
  const Damage cases[] = {
      {"size below the count", SIZE_MAX, 0, 72 * 4, 73},
      {"size above the count", SIZE_MAX, 0, 73 * 4, 72},
      {"size not whole records", SIZE_MAX, 0, 73 * 4 - 1, 73},
      {"count zero", SIZE_MAX, 0, 0, 0},
      {"first command zero", 2, 0, 73 * 4, 73},  // 0x4E00 with byte 3 kept: out of range too
      {"command above the keys' range", 10, 0x61, 73 * 4, 73},
      {"unknown modifier bit", 8, 0x08, 73 * 4, 73},
  };
  for (const Damage& d : cases) {
    std::vector<uint8_t> damaged = bytes;
    if (d.offset != SIZE_MAX) damaged[d.offset] = d.value;
    if (d.offset == 2) damaged[3] = 0;
    EXPECT_FALSE(pv::ParseKeyBindings(damaged.data(), d.size, d.count)) << d.what;
  }
  std::vector<uint8_t> tooMany(256 * 4, 0);
  EXPECT_FALSE(pv::ParseKeyBindings(tooMany.data(), tooMany.size(), 256));
  EXPECT_FALSE(pv::ParseKeyBindings(nullptr, 4, 1));
}

TEST(KeyBindings, SetComparison) {
  std::vector<KeyBinding> reversed(std::rbegin(kBuiltInKeyBindings), std::rend(kBuiltInKeyBindings));
  std::vector<KeyBinding> changed = reversed;
  changed[10].modifiers ^= pv::kKeyShift;
  struct Case {
    const char* what;
    const std::vector<KeyBinding>& other;
    size_t count;
    bool same;
  };
  const Case cases[] = {
      {"any order", reversed, reversed.size(), true},
      {"one binding changed", changed, changed.size(), false},
      {"one binding fewer", reversed, reversed.size() - 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pv::SameKeyBindingSet(kBuiltInKeyBindings, kBuiltInKeyBindingCount, c.other.data(), c.count), c.same)
        << c.what;
    EXPECT_EQ(pv::SameKeyBindingSet(c.other.data(), c.count, kBuiltInKeyBindings, kBuiltInKeyBindingCount), c.same)
        << c.what;
  }
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
      {0, L"O", 16, true, L"O"},
      {all, L"X", 32, true, L"Shift-Ctrl-Alt-X"},
      {all, L"X", 32, false, L"s-c-a-X"},
      {pv::kKeyCtrl | pv::kKeyAlt, L"Enter", 32, true, L"Ctrl-Alt-Enter"},
      // Only whole pieces, and always terminated.
      {all, L"X", 12, true, L"Shift-Ctrl-"},
      {all, L"X", 11, true, L"Shift-"},
      {pv::kKeyShift, L"Enter", 11, true, L"Shift-"},
      {pv::kKeyShift, L"Enter", 12, true, L"Shift-Enter"},
      {0, L"Tab", 1, true, L""},
  };
  for (const Case& c : cases) {
    wchar_t buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    size_t n = pv::ComposeKeyName(c.modifiers, c.key, buffer, c.capacity, c.longForm);
    EXPECT_STREQ(buffer, c.text);
    EXPECT_EQ(n, std::wstring(c.text).size());
    EXPECT_EQ(buffer[c.capacity], L'#') << "wrote past the capacity";
  }

  struct Name {
    const wchar_t* system;
    const wchar_t* shown;
  };
  const Name names[] = {
      {L"PGDN", L"PgDn"}, {L"PGUP", L"PgUp"}, {L"BACKSPACE", L"Backspace"}, {L"NUM +", L"Num +"},
      {L"ÄÅÖÄ", L"Äåöä"}, {L"ESC", L"Esc"}, {L"", L""},
  };
  for (const Name& n : names) {
    std::wstring text = n.system;
    pv::NormaliseKeyName(text.data());
    EXPECT_EQ(text, n.shown);
  }
  EXPECT_TRUE(pv::IsCharacterKey('0') && pv::IsCharacterKey('Z') && pv::IsCharacterKey('A'));
  EXPECT_FALSE(pv::IsCharacterKey(pv::vk::kSpace) || pv::IsCharacterKey(pv::vk::kF1) || pv::IsCharacterKey('/'));
}

TEST(KeyBindings, FrozenWindowKeepsItsShortList) {
  std::vector<KeyBinding> kept = pv::FrozenWindowBindings(kBuiltInKeyBindings, kBuiltInKeyBindingCount);
  std::vector<uint16_t> commands;
  for (const KeyBinding& b : kept) commands.push_back(b.command);
  const std::vector<uint16_t> expected = {20033, 20005, 20005, 20000, 20000, 20001, 20001, 20002, 20002,
                                          20003, 20004, 20025, 20025, 20026, 20026, 20064, 20064};
  EXPECT_EQ(commands, expected);
  EXPECT_EQ(kept[1], (KeyBinding{0, 'N', 20005}));
  EXPECT_EQ(kept[2], (KeyBinding{0, pv::vk::kF1 + 3, 20005}));
}

}  // namespace
