// The viewer's file commands: save as bitmap, rename, copy, move, delete,
// wipe, wallpaper, the clipboard and screen captures.
#include <cwchar>
#include <string>

#include "browse/file_operations.h"
#include "browse/image_cache.h"
#include "core/decoder.h"
#include "core/file_io.h"
#include "core/path_name.h"
#include "toolkit/command_ids.h"
#include "viewer/pixvane_windows.h"
#include "viewer/viewer_window.h"

#include <commdlg.h>
#include <shlobj.h>

namespace pv {

namespace {

void Tell(HWND owner, FileText text) { MessageBoxW(owner, FileOperationText(text), kMessageCaption, MB_OK); }

std::wstring WallpaperPath() {
  PWSTR pictures = nullptr;
  std::wstring path;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, &pictures))) path = pictures;
  CoTaskMemFree(pictures);
  return path.empty() ? path : path + L"\\Pixvane desktop.bmp";
}

}  // namespace

std::wstring ChooseBitmapTarget(HWND owner, const wchar_t* current) {
  wchar_t name[kMaxPathUnits] = L"";
  if (current && !IsPseudoPath(current)) {
    const NameParts parts = SplitImageName(current);
    const std::wstring suggested = parts.folder + parts.base + L".bmp";
    if (suggested.size() < kMaxPathUnits) wcscpy(name, suggested.c_str());
  }
  std::wstring filter = FileOperationText(FileText::BitmapFilter);
  filter.append(1, L'\0').append(L"*.bmp").append(2, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = name;
  dialog.nMaxFile = kMaxPathUnits - 4;  // room for the extension
  dialog.lpstrDefExt = L"bmp";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&dialog)) return {};
  std::wstring target = name;
  if (!PathEndsWithNoCase(target, L".bmp")) target += L".bmp";
  return target;
}

void ViewerWindow::ForgetFile() {
  if (!view_) return;
  view_->First()->Properties().SetText(kPropPath, nullptr);
  if (observed_) observed_->RemoveObserver(this);
  observed_.Reset();
  listing_.Reset();
  RefreshTitle();
}

const wchar_t* ViewerWindow::DensityText() const {
  PropertySet& properties = view_->Source()->Properties();
  return properties.Has(kPropDensity) ? properties.GetText(kPropDensity) : nullptr;
}

bool ViewerWindow::SaveAsBitmap() {
  const wchar_t* current = CurrentFileName();
  const std::wstring target = ChooseBitmapTarget(Handle(), current);
  if (target.empty()) return false;
  // Saving, like opening, makes the folder the most recent one.
  if (Viewer().fileOpened) Viewer().fileOpened(target.c_str(), false);
  if (view_->Base() && SaveBitmapFile(*view_->Base(), DensityText(), target)) return true;
  Tell(Handle(), FileText::CannotSave);
  return false;
}

bool ViewerWindow::PasteImageFromClipboard() {
  const std::wstring file = WriteClipboardBitmap();
  Ref<ImageBuffer> image;
  const Status status = file.empty() ? kStatusDamaged : LoadImageFile(file.c_str(), LoadOptions(), &image);
  if (!file.empty()) DeleteFileW(file.c_str());
  if (Succeeded(status) && ShowPseudoImage(*image, L"<clipboard>")) return true;
  Tell(Handle(), FileText::CannotPaste);
  return false;
}

void ViewerWindow::RunFileCommand(UINT id) {
  ImageCache* cache = Viewer().cache;
  const std::wstring path = CurrentFileName() ? CurrentFileName() : L"";
  const bool isFile = !path.empty() && !IsPseudoPath(path);
  switch (id) {
    case kCmdSaveAs:
      SaveAsBitmap();
      return;
    case kCmdSetWallpaper: {
      const std::wstring target = WallpaperPath();
      if (target.empty() || !view_->Base() || !SaveBitmapFile(*view_->Base(), DensityText(), target)) {
        Tell(Handle(), FileText::CannotSave);
        return;
      }
      SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, const_cast<wchar_t*>(target.c_str()), SPIF_SENDCHANGE);
      return;
    }
    case kCmdRename: {
      if (!isFile) return;
      const std::wstring renamed = RenameImageFile(Handle(), cache, path);
      if (renamed.empty() || renamed == path) return;
      view_->First()->Properties().SetText(kPropPath, renamed.c_str());
      WatchFolderOf(renamed.c_str());
      RefreshTitle();
      return;
    }
    case kCmdCopyTo:
    case kCmdMoveTo: {
      if (!isFile) return;
      const bool move = id == kCmdMoveTo;
      const std::wstring folder = ChooseFolder(Handle(), move ? FileText::ChooseMoveFolder : FileText::ChooseCopyFolder);
      if (folder.empty()) return;
      if (CopyFileToFolder(Handle(), cache, move ? FileOp::Move : FileOp::Copy, folder, {path}) && move &&
          GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        ForgetFile();
      return;
    }
    case kCmdDelete:
    case kCmdWipe:
    case kCmdDeleteAndNext:
    case kCmdWipeAndNext: {
      if (!isFile || !ConfirmFileOperation(Handle(), {path})) return;
      if (id == kCmdDeleteAndNext || id == kCmdWipeAndNext) {
        Navigate(NavNext);
        const wchar_t* now = CurrentFileName();
        if (now && path == now) SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kCmdOpen, 0), 0);
      }
      const bool wipe = id == kCmdWipe || id == kCmdWipeAndNext;
      const bool removed = DeleteFiles(Handle(), cache, {path}, wipe);
      const wchar_t* now = CurrentFileName();
      if (removed && now && path == now) ForgetFile();
      return;
    }
    case kCmdCopy:
      if (!CopyImageToClipboard(Handle(), *view_->Source())) MessageBeep(0);
      return;
    case kCmdPaste:
      PasteImageFromClipboard();
      return;
    case kCmdCaptureScreen:
    case kCmdCaptureWindow: {
      ShowWindow(Handle(), SW_MINIMIZE);
      // The windows under this one draw themselves before the picture is taken.
      RedrawWindow(nullptr, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      Sleep(250);
      HWND foreground = id == kCmdCaptureWindow ? GetForegroundWindow() : nullptr;
      if (foreground == Handle()) foreground = nullptr;
      Ref<ImageBuffer> image = CaptureScreenImage(foreground);
      if (image) ShowPseudoImage(*image, L"<capture>");
      ShowWindow(Handle(), SW_RESTORE);
      SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kCmdActualPixels, 0), reinterpret_cast<LPARAM>(Handle()));
      return;
    }
    default:
      return;
  }
}

}  // namespace pv
