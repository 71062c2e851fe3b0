// The viewer's context menu: the commands a right click offers, in three
// variants (slideshow running, frozen window, otherwise).
#include <string>

#include "toolkit/resource_ids.h"
#include "settings/key_bindings_win.h"
#include "settings/language.h"
#include "toolkit/command_ids.h"
#include "viewer/viewer_window.h"

namespace pv {

namespace {

constexpr UINT kSeparator = 0;

struct ItemIcon {
  UINT command;
  int icon;
};

constexpr ItemIcon kItemIcons[] = {
    {kCmdOpen, PV_ICON_OPEN},
    {kCmdNextImage, PV_ICON_NEXT},
    {kCmdPreviousImage, PV_ICON_PREVIOUS},
    {kCmdOpenNewWindow, PV_ICON_NEW_WINDOW},
    {kCmdBrowse, PV_ICON_BROWSE},
    {kCmdZoomIn, PV_ICON_ZOOM_IN},
    {kCmdZoomOut, PV_ICON_ZOOM_OUT},
    {kCmdFreeze, PV_ICON_FREEZE},
    {kCmdAdjust, PV_ICON_ADJUST},
    {kCmdStopSlideshow, PV_ICON_STOP_SLIDESHOW},
    {kCmdOptionsAlt, PV_ICON_OPTIONS},
    {kCmdHelp, PV_ICON_HELP},
    {kCmdClose, PV_ICON_CLOSE},
};

// The command's name, then the first key bound to it.
std::wstring ItemText(UINT id) {
  const wchar_t* name = CommandName(id);
  std::wstring text = name ? Translate(name) : L"";
  for (const KeyBinding& binding : Viewer().ActiveKeyBindings()) {
    wchar_t key[64];
    if (binding.command == id && FormatKeyName(binding, key, 64, true) > 0) {
      text += L'\t';
      text += key;
      break;
    }
  }
  return text;
}

// Items the window cannot carry out now are greyed.
void AddItems(IconMenu& owner, HMENU menu, const CommandContext& state, std::initializer_list<UINT> ids) {
  for (UINT id : ids) {
    if (id == kSeparator) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING | (CommandAvailable(id, state) ? 0u : MF_GRAYED);
    if ((id == kCmdPauseAnimation && state.paused) || (id == kCmdToggleBorder && Viewer().preferences.border) ||
        (id == kCmdToggleOption && Viewer().preferences.slideMaximise))
      flags |= MF_CHECKED;
    AppendMenuW(menu, flags, id, ItemText(id).c_str());
    for (const ItemIcon& i : kItemIcons) {
      if (i.command == id) owner.SetItemIcon(menu, id, i.icon);
    }
  }
}

void AddSubmenu(IconMenu& owner, const CommandContext& state, const wchar_t* title,
                std::initializer_list<UINT> ids) {
  HMENU sub = CreatePopupMenu();
  AddItems(owner, sub, state, ids);
  AppendMenuW(owner.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(sub), Translate(title).c_str());
}

}  // namespace

IconMenu ViewerWindow::BuildContextMenu() const {
  IconMenu owner;
  HMENU menu = owner.get();
  const CommandContext state = CommandState();
  if (slideshow_) {
    AddItems(owner, menu, state, {kCmdStopSlideshow, kCmdSlideshowAlt, kSeparator});
  } else if (options_.frozen) {
    AddItems(owner, menu, state,
             {kCmdFreeze, kCmdOpenNewWindow, kSeparator, kCmdOpen, kCmdNextImage, kCmdPreviousImage, kSeparator,
              kCmdZoomIn, kCmdZoomOut, kSeparator, kCmdHelp, kCmdClose});
  } else {
    if (IsMaximized()) AddItems(owner, menu, state, {kCmdRestore});
    AddItems(owner, menu, state, {kCmdOpen, kCmdOpenNewWindow, kSeparator, kCmdNextImage, kCmdPreviousImage, kSeparator});
    AddSubmenu(owner, state, L"File",
               {kCmdReload, kCmdSaveAs, kCmdRename, kCmdCopyTo, kCmdMoveTo, kCmdDelete, kCmdWipe, kSeparator,
                kCmdOpenFolder, kCmdSetWallpaper, kCmdCopy, kCmdPaste, kCmdCaptureScreen, kCmdCaptureWindow});
    AddSubmenu(owner, state, L"View",
               {kCmdZoomToWindow, kCmdFitWindow, kCmdActualPixels, kCmdCropToVisible, kCmdZoomIn, kCmdZoomOut,
                kSeparator, kCmdTurnRight, kCmdTurnHalf, kCmdTurnLeft, kCmdMirror, kCmdFlip, kSeparator, kCmdFreeze,
                kCmdToggleTopmost, kCmdToggleBorder, kCmdBorderColour});
    if (state.animated) AddSubmenu(owner, state, L"Animation", {kCmdPauseAnimation, kCmdNextFrame, kCmdPreviousFrame});
    AddSubmenu(owner, state, L"Slideshow", {kCmdSlideshow, kCmdSlideshowAlt, kSeparator, kCmdToggleOption});
    AddItems(owner, menu, state, {kCmdAdjust, kCmdImageInfo, kCmdBrowse, kSeparator, kCmdOptionsAlt, kCmdHelp, kCmdClose});
  }
  return owner;
}

void ViewerWindow::OnContextMenu(POINT point, bool fromKeyboard) {
  (void)fromKeyboard;  // either way the menu opens at the point given
  if (!view_) return;
  IconMenu menu = BuildContextMenu();
  ++sizeMove_;  // commands chosen meanwhile wait for the menu to close
  const UINT id = static_cast<UINT>(
      TrackPopupMenuEx(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, Handle(), nullptr));
  EndSizeMove();
  if (id != 0) SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

}  // namespace pv
