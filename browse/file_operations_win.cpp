// The file operations on Windows: the shell's file operation, the wipe, the
// rename dialog, the clipboard and the screen capture.
#include "browse/file_operations.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

#include "browse/image_cache.h"
#include "codecs/bmp/bmp_writer.h"
#include "core/file_io.h"
#include "core/image_buffer.h"
#include "core/path_name.h"
#include "metadata/resolution_text.h"
#include "toolkit/resource_ids.h"

namespace pv {

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const wchar_t* path) {
  const DWORD a = GetFileAttributesW(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// The shell's double-terminated form.
std::wstring ShellList(const std::vector<std::wstring>& paths) {
  std::wstring list;
  for (const std::wstring& p : paths) list.append(p).push_back(L'\0');
  list.push_back(L'\0');
  return list;
}


// The images with their companions, where those exist.
std::vector<std::wstring> WithCompanions(const std::vector<std::wstring>& files) {
  std::vector<std::wstring> all;
  for (const std::wstring& f : files) {
    all.push_back(f);
    if (Exists(CompanionPath(f))) all.push_back(CompanionPath(f));
  }
  return all;
}

// Keeps the watcher of a folder's listing from reading the program's own
// changes, and shows them in the listing instead. Each edit makes a new
// listing, which stays suspended too until the end.
class ListingEdit {
 public:
  ListingEdit(ImageCache* cache, const std::wstring& folder) : cache_(cache), folder_(folder) {
    if (cache_) Hold(cache_->Listings().OpenListing(folder_.c_str(), true));
  }
  ~ListingEdit() {
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) (*it)->Suspend(false);
  }
  // A rename of the entry, or its removal without a new name.
  void Replace(std::wstring_view path, const wchar_t* newName) {
    if (held_.empty()) return;
    const std::wstring name(FileNamePart(path));
    if (held_.back()->ReplaceEntry(name.c_str(), newName))
      Hold(cache_->Listings().OpenListing(folder_.c_str(), true));
  }

 private:
  void Hold(Ref<FolderListing> listing) {
    if (!listing) return;
    for (const Ref<FolderListing>& h : held_) {
      if (h.get() == listing.get()) return;
    }
    listing->Suspend(true);
    held_.push_back(std::move(listing));
  }
  ImageCache* cache_;
  std::wstring folder_;
  std::vector<Ref<FolderListing>> held_;
};

// Overwrites the whole file three times, write-through.
bool Overwrite(const std::wstring& path, std::minstd_rand& random) {
  uint8_t block[4096];
  for (int pass = 0; pass < 3; ++pass) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    for (uint8_t& b : block) b = static_cast<uint8_t>(random());
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(f, &size);
    for (int64_t left = size.QuadPart; ok && left > 0;) {
      const DWORD n = static_cast<DWORD>(left < 4096 ? left : 4096);
      DWORD written = 0;
      ok = WriteFile(f, block, n, &written, nullptr) && written == n;
      left -= n;
    }
    ok = FlushFileBuffers(f) && ok;
    CloseHandle(f);
    if (!ok) return false;
  }
  return true;
}

// Wipes one file; false when it is still there.
bool WipeFile(const std::wstring& path, std::minstd_rand& random) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!Overwrite(path, random)) return false;
  const std::wstring folder = path.substr(0, path.find_last_of(L"\\/") + 1);
  std::wstring current = path;
  for (int step = 0; step < 3; ++step) {
    // A random name that is taken is tried again; MoveFileW never replaces.
    for (int attempt = 0; attempt < 8; ++attempt) {
      const std::wstring next = folder + ScrambledName(current, random);
      if (MoveFileW(current.c_str(), next.c_str())) {
        current = next;
        break;
      }
    }
  }
  HANDLE f = CreateFileW(current.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_FLAG_WRITE_THROUGH,
                         nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    const uint8_t one = static_cast<uint8_t>(random());
    WriteFile(f, &one, 1, &written, nullptr);
    FlushFileBuffers(f);
    CloseHandle(f);
  }
  if (DeleteFileW(current.c_str())) return true;
  // Never left behind under a name nobody knows.
  if (current != path) MoveFileW(current.c_str(), path.c_str());
  return false;
}

}  // namespace

bool ShellFileOperation(HWND owner, ImageCache* cache, FileOp op, const std::vector<std::wstring>& from,
                        const wchar_t* to, bool replaceConfirmed) {
  const std::optional<OperationPlan> plan = PlanFileOperation(op, from, to, IsDirectory);
  if (!plan) return false;
  std::optional<ListingEdit> edit;
  if (plan->op != FileOp::Copy) edit.emplace(cache, plan->sourceFolder);
  const std::wstring source = ShellList(from);
  // Several files into a folder are given one target each: Wine's shell
  // refuses more sources than targets unless a source is a folder.
  std::vector<std::wstring> targets;
  if (from.size() > 1 && (plan->op == FileOp::Move || plan->op == FileOp::Copy)) {
    for (const std::wstring& f : from) targets.push_back(plan->targetFolder + std::wstring(FileNamePart(f)));
  } else if (plan->op != FileOp::Delete) {
    targets.push_back(to);
  }
  const std::wstring target = targets.empty() ? std::wstring() : ShellList(targets);
  SHFILEOPSTRUCTW shell{};
  shell.hwnd = owner;
  shell.wFunc = static_cast<UINT>(plan->op);
  shell.pFrom = source.c_str();
  shell.pTo = target.empty() ? nullptr : target.c_str();
  shell.fFlags = plan->op == FileOp::Delete ? FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT
                                            : FOF_ALLOWUNDO;
  if (targets.size() > 1) shell.fFlags |= FOF_MULTIDESTFILES;
  if (replaceConfirmed) shell.fFlags |= FOF_NOCONFIRMATION;
  if (SHFileOperationW(&shell) != 0) return false;
  if (shell.fAnyOperationsAborted) return true;
  if (edit) {
    for (const std::wstring& f : from) {
      // Only what really happened is shown.
      if (Exists(f)) continue;
      if (plan->op == FileOp::Rename) {
        edit->Replace(f, std::wstring(FileNamePart(to)).c_str());
      } else {
        edit->Replace(f, nullptr);
      }
    }
  }
  return true;
}

bool DeleteFiles(HWND owner, ImageCache* cache, const std::vector<std::wstring>& files, bool wipe) {
  if (files.empty()) return false;
  if (cache) {
    for (const std::wstring& f : files) cache->EvictFromCache(f.c_str());
  }
  const std::vector<std::wstring> all = WithCompanions(files);
  if (!wipe) {
    ShellFileOperation(owner, cache, FileOp::Delete, all, nullptr);
    // The shell's answer is not the last word: whatever is still there is
    // deleted directly, and a file that stays is reported.
    bool removed = true;
    {
      ListingEdit edit(cache, all[0].substr(0, all[0].find_last_of(L"\\/") + 1));
      for (const std::wstring& f : all) {
        if (!Exists(f)) continue;
        if (DeleteFileW(f.c_str())) {
          edit.Replace(f, nullptr);
        } else {
          removed = false;
        }
      }
    }
    if (!removed) TellFileProblem(owner, FileText::CannotDelete);
    return removed;
  }
  std::minstd_rand random(GetTickCount() ^ GetCurrentProcessId());
  for (const std::wstring& f : all) {
    ListingEdit edit(cache, f.substr(0, f.find_last_of(L"\\/") + 1));
    if (!WipeFile(f, random)) {
      TellFileProblem(owner, FileText::CannotWipe);
      return false;
    }
    edit.Replace(f, nullptr);
  }
  return true;
}

bool ConfirmFileOperation(HWND owner, const std::vector<std::wstring>& files) {
  const std::wstring text = ConfirmationText(files);
  if (text.empty()) return false;
  return MessageBoxW(owner, text.c_str(), FileOperationText(FileText::ConfirmDelete).c_str(),
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_TOPMOST) == IDYES;
}

bool CopyFileToFolder(HWND owner, ImageCache* cache, FileOp op, const std::wstring& folder,
                      const std::vector<std::wstring>& files) {
  if (folder.empty() || files.empty() || (op != FileOp::Copy && op != FileOp::Move)) return false;
  // The target is the folder itself when it is one, else the folder of the path given.
  const std::wstring target = IsDirectory(folder.c_str()) ? folder : folder.substr(0, FileNameOffset(folder));
  if (target.empty() || !IsDirectory(target.c_str())) return false;
  // A file of the same name in the target is replaced only when the user
  // says so; Wine's shell would replace it on a move without a question.
  std::vector<std::wstring> all = WithCompanions(files), taken;
  if (!PlanFileOperation(op, all, target.c_str(), IsDirectory)) return false;
  const std::wstring folderPart = target.back() == L'\\' || target.back() == L'/' ? target : target + L'\\';
  for (const std::wstring& f : all) {
    if (Exists(folderPart + std::wstring(FileNamePart(f)))) taken.push_back(folderPart + std::wstring(FileNamePart(f)));
  }
  const bool replace = !taken.empty() && MessageBoxW(owner, ConfirmationText(taken).c_str(),
                                                     FileOperationText(FileText::ConfirmReplace).c_str(),
                                                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_TOPMOST) == IDYES;
  if (!taken.empty() && !replace) {
    std::erase_if(all, [&](const std::wstring& f) {
      const std::wstring name(FileNamePart(f));
      const std::wstring image = PathEndsWithNoCase(name, L".pva") ? name.substr(0, name.size() - 4) : name;
      return Exists(folderPart + name) || Exists(folderPart + image);
    });
    if (all.empty()) return true;  // the user's answer
  }
  if (op == FileOp::Move && cache) {
    for (const std::wstring& f : all) cache->EvictFromCache(f.c_str());
  }
  return ShellFileOperation(owner, cache, op, all, target.c_str(), replace);
}

void TellFileProblem(HWND owner, FileText text) {
  MessageBoxW(owner, FileOperationText(text).c_str(), kMessageCaption, MB_OK);
}

std::wstring ChooseFolder(HWND owner, FileText title) {
  const std::wstring text = FileOperationText(title);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = text.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (!chosen) return {};
  wchar_t path[MAX_PATH];
  const bool ok = SHGetPathFromIDListW(chosen, path);
  CoTaskMemFree(chosen);
  return ok ? std::wstring(path) : std::wstring();
}

namespace {

struct RenameSession {
  std::wstring oldBase;
  std::wstring newBase;
};

INT_PTR CALLBACK RenameProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* s = reinterpret_cast<RenameSession*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      s = reinterpret_cast<RenameSession*>(lParam);
      SetDlgItemTextW(dialog, PV_RENAME_OLD, s->oldBase.c_str());
      SetDlgItemTextW(dialog, PV_RENAME_NEW, s->oldBase.c_str());
      SendDlgItemMessageW(dialog, PV_RENAME_NEW, EM_LIMITTEXT, kMaxPathUnits - 1, 0);
      SendDlgItemMessageW(dialog, PV_RENAME_NEW, EM_SETSEL, 0, -1);
      SetFocus(GetDlgItem(dialog, PV_RENAME_NEW));
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        wchar_t text[kMaxPathUnits];
        const int n = GetDlgItemTextW(dialog, PV_RENAME_NEW, text, kMaxPathUnits);
        s->newBase.assign(text, n > 0 ? static_cast<size_t>(n) : 0);
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

std::wstring AskNewBaseName(HWND owner, std::wstring_view path) {
  RenameSession session{SplitImageName(path).base, {}};
  const INT_PTR answer = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(PV_DIALOG_RENAME), owner,
                                         RenameProcedure, reinterpret_cast<LPARAM>(&session));
  return answer == IDOK ? session.newBase : std::wstring();
}

std::wstring RenameImageTo(HWND owner, ImageCache* cache, const std::wstring& path, std::wstring_view newBase) {
  if (newBase == SplitImageName(path).base) return path;
  const std::wstring target = RenamedPath(path, newBase);
  // Another file of that name is never replaced; a change of letter case
  // alone names the same file.
  if (target.empty() || (Exists(target) && CompareNoCase(target.c_str(), path.c_str()) != 0)) {
    TellFileProblem(owner, FileText::CannotRename);
    return {};
  }
  if (cache) cache->EvictFromCache(path.c_str());
  const bool done = ShellFileOperation(owner, cache, FileOp::Rename, {path}, target.c_str()) && Exists(target) &&
                    (!Exists(path) || CompareNoCase(target.c_str(), path.c_str()) == 0);
  if (!done) {
    TellFileProblem(owner, FileText::CannotRename);
    return {};
  }
  const std::wstring companion = CompanionPath(path);
  if (Exists(companion) && !Exists(CompanionPath(target)))
    ShellFileOperation(owner, cache, FileOp::Rename, {companion}, CompanionPath(target).c_str());
  return target;
}

std::wstring RenameImageFile(HWND owner, ImageCache* cache, const std::wstring& path) {
  if (path.empty() || IsPseudoPath(path)) return {};
  const std::wstring base = AskNewBaseName(owner, path);
  if (base.empty()) return {};
  return RenameImageTo(owner, cache, path, base);
}

bool WriteFileReplacing(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  // A read-only file is never replaced.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
    return false;
  const std::wstring folder = path.substr(0, FileNameOffset(path));
  wchar_t temporary[MAX_PATH];
  if (bytes.size() > UINT32_MAX || !GetTempFileNameW(folder.empty() ? L"." : folder.c_str(), L"pv", 0, temporary))
    return false;
  HANDLE f = CreateFileW(temporary, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  bool ok = f != INVALID_HANDLE_VALUE;
  if (ok) {
    DWORD written = 0;
    ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    ok = FlushFileBuffers(f) && ok;
    CloseHandle(f);
  }
  ok = ok && MoveFileExW(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(temporary);
  return ok;
}

bool SaveBitmapFile(ImageBuffer& image, const wchar_t* density, const std::wstring& path) {
  DibOptions options;
  if (density && !ParseResolution(density, ResolutionUnit::PerMetre, &options.pixelsPerMetreX, &options.pixelsPerMetreY))
    options.pixelsPerMetreX = options.pixelsPerMetreY = 0;
  std::vector<uint8_t> file;
  return Succeeded(EncodeBitmapFile(image, options, &file)) && WriteFileReplacing(path, file);
}

bool CopyImageToClipboard(HWND window, ImageBuffer& image) {
  std::vector<uint8_t> dib;
  DibOptions options;
  options.keepAlpha = true;
  if (Failed(EncodeDib(image, options, &dib))) return false;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, dib.size());
  if (!memory) return false;
  void* bytes = GlobalLock(memory);
  if (!bytes) {
    GlobalFree(memory);
    return false;
  }
  std::memcpy(bytes, dib.data(), dib.size());
  GlobalUnlock(memory);
  if (!OpenClipboard(window)) {
    GlobalFree(memory);
    return false;
  }
  EmptyClipboard();
  const bool taken = SetClipboardData(CF_DIB, memory) != nullptr;
  CloseClipboard();
  if (!taken) GlobalFree(memory);
  return taken;
}

bool ClipboardHasImage() { return IsClipboardFormatAvailable(CF_DIB); }

std::wstring WriteClipboardBitmap() {
  if (!OpenClipboard(nullptr)) return {};
  std::vector<uint8_t> file;
  Status status = kStatusUnknownFormat;
  if (HANDLE memory = GetClipboardData(CF_DIB)) {
    // The block's own size bounds every read.
    if (const void* dib = GlobalLock(memory)) {
      status = BitmapFileFromDib(static_cast<const uint8_t*>(dib), GlobalSize(memory), &file);
      GlobalUnlock(memory);
    }
  }
  CloseClipboard();
  if (Failed(status)) return {};
  wchar_t folder[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, folder);
  std::wstring path = n > 0 && n < MAX_PATH ? std::wstring(folder, n) : std::wstring(L"C:\\");
  if (path.back() != L'\\') path += L'\\';
  path += L"pvclipb.bmp";
  return WriteFileReplacing(path, file) ? path : std::wstring();
}

Ref<ImageBuffer> CaptureScreenImage(HWND window) {
  RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (window && !GetWindowRect(window, &r)) return {};
  const LONG w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return {};
  Ref<ImageBuffer> image(CreateImageBuffer(PixelFormat::Rgba8, {static_cast<uint32_t>(w), static_cast<uint32_t>(h)},
                                           false));
  if (!image) return {};
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (memory && bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
    GdiFlush();
    SelectObject(memory, old);
  }
  if (ok) {
    const auto* s = static_cast<const uint8_t*>(bits);
    for (LONG y = 0; y < h; ++y, s += size_t(w) * 4) {
      uint8_t* d = image->Row(static_cast<uint32_t>(y));
      std::memcpy(d, s, size_t(w) * 4);
      for (LONG x = 0; x < w; ++x) d[x * 4 + 3] = 255;  // the screen has no alpha
    }
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok ? image : Ref<ImageBuffer>();
}

}  // namespace pv
