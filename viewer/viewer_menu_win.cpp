// The viewer's context menu: the commands a right click offers, in three
// variants (slideshow running, frozen window, otherwise).
#include <string>

#include "settings/key_bindings_win.h"
#include "viewer/commands.h"
#include "viewer/viewer_window.h"

namespace pv {

namespace {

constexpr UINT kSeparator = 0;

// The command's name, then the first key bound to it.
std::wstring ItemText(UINT id) {
  const wchar_t* name = CommandName(id);
  std::wstring text = name ? name : L"";
  const std::vector<KeyBinding>& stored = Viewer().keyBindings;
  const KeyBinding* bindings = stored.empty() ? kBuiltInKeyBindings : stored.data();
  const size_t count = stored.empty() ? kBuiltInKeyBindingCount : stored.size();
  for (size_t i = 0; i < count; ++i) {
    wchar_t key[64];
    if (bindings[i].command == id && FormatKeyName(bindings[i], key, 64, true) > 0) {
      text += L'\t';
      text += key;
      break;
    }
  }
  return text;
}

void AddItems(HMENU menu, std::initializer_list<UINT> ids) {
  for (UINT id : ids) {
    if (id == kSeparator) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuW(menu, MF_STRING, id, ItemText(id).c_str());
    }
  }
}

void AddSubmenu(HMENU menu, const wchar_t* title, std::initializer_list<UINT> ids) {
  HMENU sub = CreatePopupMenu();
  AddItems(sub, ids);
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), title);
}

}  // namespace

HMENU ViewerWindow::BuildContextMenu() const {
  HMENU menu = CreatePopupMenu();
  if (slideshow_) {
    AddItems(menu, {kCmdStopSlideshow, kCmdSlideshowAlt, kSeparator});
  } else if (options_.frozen) {
    AddItems(menu, {kCmdFreeze, kCmdOpenNewWindow, kSeparator, kCmdOpen, kCmdNextImage, kCmdPreviousImage, kSeparator,
                    kCmdZoomIn, kCmdZoomOut, kSeparator, kCmdHelp, kCmdClose});
  } else {
    if (IsMaximized()) AddItems(menu, {kCmdRestore});
    AddItems(menu, {kCmdOpen, kCmdOpenNewWindow, kSeparator, kCmdNextImage, kCmdPreviousImage, kSeparator});
    AddSubmenu(menu, L"File",
               {kCmdReload, kCmdSaveAs, kCmdRename, kCmdCopyTo, kCmdMoveTo, kCmdDelete, kSeparator, kCmdOpenFolder,
                kCmdSetWallpaper, kCmdCopy, kCmdPaste});
    AddSubmenu(menu, L"View",
               {kCmdZoomToWindow, kCmdFitWindow, kCmdActualPixels, kCmdCropToVisible, kCmdZoomIn, kCmdZoomOut,
                kSeparator, kCmdTurnRight, kCmdTurnHalf, kCmdTurnLeft, kCmdMirror, kCmdFlip, kSeparator, kCmdFreeze,
                kCmdToggleTopmost});
    AddSubmenu(menu, L"Slideshow", {kCmdSlideshow, kCmdSlideshowAlt});
    AddItems(menu, {kCmdAdjust, kCmdBrowse, kSeparator, kCmdOptionsAlt, kCmdHelp, kCmdClose});
  }
  return menu;
}

void ViewerWindow::OnContextMenu(POINT point, bool fromKeyboard) {
  (void)fromKeyboard;  // either way the menu opens at the point given
  if (!view_) return;
  HMENU menu = BuildContextMenu();
  ++sizeMove_;  // commands chosen meanwhile wait for the menu to close
  const UINT id = static_cast<UINT>(
      TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, Handle(), nullptr));
  --sizeMove_;
  DestroyMenu(menu);
  if (id != 0) SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

}  // namespace pv
