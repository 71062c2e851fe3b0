#pragma once
// Key bindings: one key with modifiers to one viewer command. The built-in
// table is active until the user stores a set of their own as "Keys1".
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pv {

inline constexpr uint8_t kKeyShift = 1;
inline constexpr uint8_t kKeyCtrl = 2;
inline constexpr uint8_t kKeyAlt = 4;
inline constexpr uint8_t kKeyModifierMask = kKeyShift | kKeyCtrl | kKeyAlt;

// Windows virtual-key codes of the keys the built-in table uses (letters and
// digits are their ASCII upper-case characters).
namespace vk {
inline constexpr uint8_t kBack = 0x08;
inline constexpr uint8_t kTab = 0x09;
inline constexpr uint8_t kReturn = 0x0D;
inline constexpr uint8_t kEscape = 0x1B;
inline constexpr uint8_t kSpace = 0x20;
inline constexpr uint8_t kPageUp = 0x21;
inline constexpr uint8_t kPageDown = 0x22;
inline constexpr uint8_t kEnd = 0x23;
inline constexpr uint8_t kHome = 0x24;
inline constexpr uint8_t kLeft = 0x25;
inline constexpr uint8_t kUp = 0x26;
inline constexpr uint8_t kRight = 0x27;
inline constexpr uint8_t kDown = 0x28;
inline constexpr uint8_t kInsert = 0x2D;
inline constexpr uint8_t kDelete = 0x2E;
inline constexpr uint8_t kNumPadAdd = 0x6B;
inline constexpr uint8_t kNumPadSubtract = 0x6D;
inline constexpr uint8_t kF1 = 0x70;
}  // namespace vk

// Stored as: modifiers, virtual key, command id (16-bit little-endian).
struct KeyBinding {
  uint8_t modifiers = 0;
  uint8_t key = 0;
  uint16_t command = 0;
  friend bool operator==(const KeyBinding&, const KeyBinding&) = default;
};

inline constexpr size_t kBuiltInKeyBindingCount = 73;
inline constexpr size_t kMaxKeyBindings = 255;
inline constexpr size_t kStoredKeyBindingSize = 4;
extern const KeyBinding kBuiltInKeyBindings[kBuiltInKeyBindingCount];

// The English name of a command on the key page (translated when shown), or
// null for ids that are never offered.
const wchar_t* CommandName(uint32_t command);

// True for a binding the viewer can act on: known modifiers only and a
// command a key may carry.
bool IsValidKeyBinding(const KeyBinding& binding);

// Reads `expectedCount` records from a stored form. None when the size does
// not match the count, the count is 0 or above kMaxKeyBindings, or a record
// is not valid; the built-in table then stays active.
std::optional<std::vector<KeyBinding>> ParseKeyBindings(const uint8_t* data, size_t size, size_t expectedCount);
// The stored form of a set: its first kMaxKeyBindings records.
std::vector<uint8_t> SerializeKeyBindings(std::span<const KeyBinding> bindings);
// True when the counts agree and each set holds every member of the other.
bool SameKeyBindingSet(std::span<const KeyBinding> a, std::span<const KeyBinding> b);

// The binding a key pressed while recording makes (command 0): none for
// Shift, Ctrl, Alt and the Windows keys alone, which only modify the next key.
std::optional<KeyBinding> RecordedKey(uint8_t key, bool shift, bool ctrl, bool alt);
// A binding carried in one 32-bit message parameter, in its stored byte order.
uint32_t PackKeyBinding(const KeyBinding& binding);
KeyBinding UnpackKeyBinding(uint32_t packed);

// Key names as the key page and the menus show them: the modifiers ("Shift-",
// "Ctrl-", "Alt-", or "s-", "c-", "a-" in the short form), then the key's
// name. A piece that does not fit ends the text, which is always terminated;
// returns its length.
size_t ComposeKeyName(uint8_t modifiers, const wchar_t* keyName, wchar_t* buffer, size_t capacity, bool longForm);
// True for keys named by their own character: digits and letters.
bool IsCharacterKey(uint8_t key);
// The system's upper-case key names in the program's spelling: "PgDn" and
// "PgUp", otherwise the first character and the rest in lower case.
void NormaliseKeyName(wchar_t* name);

// The accelerators a frozen window keeps, in the order of its short command
// list.
std::vector<KeyBinding> FrozenWindowBindings(const KeyBinding* bindings, size_t count);
// Whether a frozen window carries out the command; it ignores the rest.
bool FrozenWindowAccepts(uint32_t command);

}  // namespace pv
