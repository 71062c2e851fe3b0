#include "settings/key_bindings.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "core/endian.h"
#include "toolkit/command_ids.h"

namespace pv {

namespace {

constexpr KeyBinding Bind(uint8_t modifiers, uint8_t key, uint32_t command) {
  return {modifiers, key, static_cast<uint16_t>(command)};
}
constexpr KeyBinding Bind(uint8_t key, uint32_t command) { return Bind(0, key, command); }

constexpr uint8_t kCtrlAlt = kKeyCtrl | kKeyAlt;

constexpr const wchar_t* kCommandNames[kLastUserCommand - kFirstViewerCommand + 1] = {
    L"Open a new image",
    L"Next image file",
    L"Previous image file",
    L"First image file of the folder",
    L"Last image file of the folder",
    L"Open in a new window",
    L"Next image in a new window",
    L"Previous image in a new window",
    L"Index",
    L"Switch to the next window",
    L"Switch to the previous window",
    L"Fit image to window",
    L"Fit window to image",
    L"Restore the image's own size",
    L"Crop image to window",
    L"Toggle full screen",
    L"Zoom to 12 %",
    L"Zoom to 25 %",
    L"Zoom to 50 %",
    L"Zoom to 75 %",
    L"Zoom to 100 %",
    L"Zoom to 150 %",
    L"Zoom to 200 %",
    L"Zoom to 400 %",
    L"Zoom to 800 %",
    L"Zoom in",
    L"Zoom out",
    L"Zoom for print preview",
    L"Rotate image -90\u00B0",
    L"Rotate image 180\u00B0",
    L"Rotate image +90\u00B0",
    L"Mirror vertically",
    L"Mirror horizontally",
    L"Freeze window",
    L"Reload from file",
    L"Adjust image",
    L"Image file information",
    L"Colour picker",
    L"Save as",
    L"Rename file",
    L"Copy file",
    L"Move file",
    L"Delete file",
    L"Delete and show next",
    L"Wipe file",
    L"Wipe and show next",
    L"Open the folder in Explorer",
    L"Use as desktop wallpaper",
    L"Copy to clipboard",
    L"Paste from clipboard",
    L"Create slideshow script",
    L"Slideshow",
    L"Cancel",
    L"Slideshows maximised",
    L"Capture the screen",
    L"Capture a window",
    L"Options",
    L"Maximise",
    L"Restore window",
    L"Bring window to front",
    L"Send window to back",
    L"Topmost window",
    L"Help",
    L"Close all windows",
    L"Close",
};

constexpr const wchar_t* kLaterCommandNames[kLastLaterCommand - kFirstLaterCommand + 1] = {
    L"Pause or resume the animation",
    L"Next frame",
    L"Previous frame",
    L"Border around borderless images",
    L"Border colour",
    L"Image information",
};

// The commands a frozen window answers, in the order its accelerators are
// taken over. Help is among them: the frozen menu offers it, so its key works too.
constexpr uint32_t kFrozenCommands[] = {kCmdFreeze, kCmdOpenNewWindow, kCmdOpen,    kCmdNextImage, kCmdPreviousImage,
                                        kCmdFirst,  kCmdLast,          kCmdZoomIn,  kCmdZoomOut,   kCmdHelp,
                                        kCmdClose};

}  // namespace

const KeyBinding kBuiltInKeyBindings[kBuiltInKeyBindingCount] = {
    Bind('O', kCmdOpen),
    Bind('N', kCmdOpenNewWindow),
    Bind(vk::kPageDown, kCmdNextImage),
    Bind(vk::kSpace, kCmdNextImage),
    Bind(kKeyCtrl, vk::kPageDown, kCmdNextAlt),
    Bind(kKeyCtrl, vk::kSpace, kCmdNextAlt),
    Bind(vk::kPageUp, kCmdPreviousImage),
    Bind(vk::kBack, kCmdPreviousImage),
    Bind(kKeyCtrl, vk::kPageUp, kCmdPreviousAlt),
    Bind(kKeyCtrl, vk::kBack, kCmdPreviousAlt),
    Bind(vk::kEnd, kCmdLast),
    Bind(vk::kHome, kCmdFirst),
    Bind(kKeyCtrl, 'F', kCmdFreeze),
    Bind('A', kCmdAdjust),
    Bind('F', kCmdOptions),
    Bind('B', kCmdSendToBack),
    Bind('R', kCmdActualPixels),
    Bind('U', kCmdToggleTopmost),
    Bind('S', kCmdSlideshowAlt),
    Bind('T', kCmdCropToVisible),
    Bind('W', kCmdFitWindow),
    Bind(kKeyCtrl, 'C', kCmdCopy),
    Bind(kKeyCtrl, 'V', kCmdPaste),
    Bind('I', kCmdBrowse),
    Bind(kKeyAlt, 'C', kCmdCopyTo),
    Bind(kKeyAlt, 'M', kCmdMoveTo),
    Bind(kKeyAlt, 'R', kCmdRename),
    Bind(kKeyCtrl, 'X', kCmdDeleteAndNext),
    Bind(kKeyAlt, 'D', kCmdDeleteAndNext),
    Bind(kKeyShift, 'X', kCmdWipeAndNext),
    Bind(kKeyAlt, 'E', kCmdWipeAndNext),
    Bind(kKeyAlt, 'W', kCmdZoomToWindow),
    Bind(vk::kUp, kCmdZoomIn),
    Bind(vk::kNumPadAdd, kCmdZoomIn),
    Bind(vk::kDown, kCmdZoomOut),
    Bind(vk::kNumPadSubtract, kCmdZoomOut),
    Bind('1', kCmdZoom12),
    Bind('2', kCmdZoom25),
    Bind('3', kCmdZoom50),
    Bind('4', kCmdZoom75),
    Bind('5', kCmdZoom100),
    Bind('6', kCmdZoom150),
    Bind('7', kCmdZoom200),
    Bind('8', kCmdZoom400),
    Bind('9', kCmdZoom800),
    Bind('0', kCmdZoomPhysical),
    Bind(vk::kLeft, kCmdTurnRight),
    Bind(vk::kRight, kCmdTurnLeft),
    Bind(kKeyCtrl, vk::kRight, kCmdFlip),
    Bind(kKeyCtrl, vk::kDown, kCmdMirror),
    Bind(kKeyCtrl, vk::kInsert, kCmdCopy),
    Bind(kKeyShift, vk::kInsert, kCmdPaste),
    Bind(kKeyCtrl, vk::kLeft, kCmdFlip),
    Bind(kKeyAlt, vk::kReturn, kCmdToggleMaximize),
    Bind(kKeyCtrl, vk::kReturn, kCmdOptionsAlt),
    Bind(vk::kTab, kCmdWindowCycle),
    Bind(kKeyShift, vk::kTab, kCmdWindowCycleBack),
    Bind(kKeyCtrl, vk::kUp, kCmdMirror),
    Bind(vk::kF1, kCmdHelp),
    Bind(vk::kF1 + 1, kCmdRename),
    Bind(vk::kF1 + 2, kCmdOpen),
    Bind(vk::kF1 + 3, kCmdOpenNewWindow),
    Bind(vk::kF1 + 4, kCmdReload),
    Bind(vk::kF1 + 5, kCmdOptionsAlt),
    Bind(vk::kF1 + 6, kCmdAdjust),
    Bind(vk::kF1 + 7, kCmdZoomToWindow),
    Bind(vk::kF1 + 8, kCmdFitWindow),
    Bind(vk::kF1 + 9, kCmdActualPixels),
    Bind(vk::kF1 + 10, kCmdToggleMaximize),
    Bind(vk::kF1 + 11, kCmdPixelColour),
    Bind(vk::kEscape, kCmdClose),
    Bind(kKeyAlt, 'X', kCmdClose),
    Bind(kCtrlAlt, 'X', kCmdCloseAll),
};

const wchar_t* CommandName(uint32_t command) {
  if (!IsUserCommand(command)) return nullptr;
  if (command >= kFirstLaterCommand) return kLaterCommandNames[command - kFirstLaterCommand];
  return kCommandNames[command - kFirstViewerCommand];
}

bool IsValidKeyBinding(const KeyBinding& binding) {
  return (binding.modifiers & ~kKeyModifierMask) == 0 && IsUserCommand(binding.command);
}

std::optional<std::vector<KeyBinding>> ParseKeyBindings(const uint8_t* data, size_t size, size_t expectedCount) {
  if (!data || expectedCount == 0 || expectedCount > kMaxKeyBindings ||
      size != expectedCount * kStoredKeyBindingSize) {
    return std::nullopt;
  }
  std::vector<KeyBinding> bindings(expectedCount);
  for (size_t i = 0; i < expectedCount; ++i) {
    const uint8_t* p = data + i * kStoredKeyBindingSize;
    bindings[i] = {p[0], p[1], LoadU16LE(p + 2)};
    // A record that no key page could have written means the value is damaged.
    if (!IsValidKeyBinding(bindings[i])) return std::nullopt;
  }
  return bindings;
}

std::vector<uint8_t> SerializeKeyBindings(std::span<const KeyBinding> bindings) {
  const size_t count = std::min(bindings.size(), kMaxKeyBindings);
  std::vector<uint8_t> bytes(count * kStoredKeyBindingSize);
  for (size_t i = 0; i < count; ++i) {
    uint8_t* p = bytes.data() + i * kStoredKeyBindingSize;
    p[0] = bindings[i].modifiers;
    p[1] = bindings[i].key;
    StoreU16LE(p + 2, bindings[i].command);
  }
  return bytes;
}

bool SameKeyBindingSet(std::span<const KeyBinding> a, std::span<const KeyBinding> b) {
  auto holdsAll = [](std::span<const KeyBinding> set, std::span<const KeyBinding> members) {
    return std::all_of(members.begin(), members.end(),
                       [&](const KeyBinding& m) { return std::find(set.begin(), set.end(), m) != set.end(); });
  };
  return a.size() == b.size() && holdsAll(a, b) && holdsAll(b, a);
}

std::optional<KeyBinding> RecordedKey(uint8_t key, bool shift, bool ctrl, bool alt) {
  // Shift, Ctrl and Alt, then their left and right forms, then the two Windows keys.
  constexpr uint8_t kModifierKeys[] = {0x10, 0x11, 0x12, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0x5B, 0x5C};
  if (key == 0 || std::find(std::begin(kModifierKeys), std::end(kModifierKeys), key) != std::end(kModifierKeys))
    return std::nullopt;
  const uint8_t modifiers = (shift ? kKeyShift : 0) | (ctrl ? kKeyCtrl : 0) | (alt ? kKeyAlt : 0);
  return KeyBinding{modifiers, key, 0};
}

uint32_t PackKeyBinding(const KeyBinding& binding) {
  return binding.modifiers | uint32_t{binding.key} << 8 | uint32_t{binding.command} << 16;
}

KeyBinding UnpackKeyBinding(uint32_t packed) {
  return {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8), static_cast<uint16_t>(packed >> 16)};
}

size_t ComposeKeyName(uint8_t modifiers, const wchar_t* keyName, wchar_t* buffer, size_t capacity, bool longForm) {
  if (capacity == 0) return 0;
  struct Modifier {
    uint8_t bit;
    const wchar_t* longName;
    const wchar_t* shortName;
  };
  static constexpr Modifier kModifiers[] = {
      {kKeyShift, L"Shift-", L"s-"}, {kKeyCtrl, L"Ctrl-", L"c-"}, {kKeyAlt, L"Alt-", L"a-"}};
  size_t length = 0;
  auto append = [&](std::wstring_view piece) {
    if (piece.size() >= capacity - length) return false;
    std::copy(piece.begin(), piece.end(), buffer + length);
    length += piece.size();
    return true;
  };
  bool fits = true;
  for (const Modifier& m : kModifiers) {
    if ((modifiers & m.bit) && !(fits = append(longForm ? m.longName : m.shortName))) break;
  }
  if (fits && keyName) append(keyName);
  buffer[length] = 0;
  return length;
}

bool IsCharacterKey(uint8_t key) { return key >= '0' && key <= 'Z'; }

void NormaliseKeyName(wchar_t* name) {
  if (!name[0]) return;
  if (std::wstring_view(name) == L"PGDN" || std::wstring_view(name) == L"PGUP") {
    name[1] = L'g';
    name[3] = static_cast<wchar_t>(name[3] + 32);
    return;
  }
  for (wchar_t* p = name + 1; *p; ++p) {
    // Latin-1 A with diaeresis, A with ring and O with diaeresis sit 32 below their small forms.
    if ((*p >= L'A' && *p <= L'Z') || *p == 0xC4 || *p == 0xC5 || *p == 0xD6) *p = static_cast<wchar_t>(*p + 32);
  }
}

bool FrozenWindowAccepts(uint32_t command) {
  return std::find(std::begin(kFrozenCommands), std::end(kFrozenCommands), command) != std::end(kFrozenCommands);
}

std::vector<KeyBinding> FrozenWindowBindings(const KeyBinding* bindings, size_t count) {
  std::vector<KeyBinding> kept;
  for (uint32_t command : kFrozenCommands) {
    std::copy_if(bindings, bindings + count, std::back_inserter(kept),
                 [command](const KeyBinding& k) { return k.command == command; });
  }
  return kept;
}

}  // namespace pv
