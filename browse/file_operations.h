#pragma once
// Deleting, wiping, copying, moving and renaming image files with their
// ".pva" companions, and the clipboard's images. Every change but the wipe
// goes through the shell, so that Explorer can undo it; the folder's own
// listing is edited instead of read again.
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/image_buffer.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pv {

class ImageCache;

// As the shell numbers them.
enum class FileOp : uint32_t { Move = 1, Copy = 2, Delete = 3, Rename = 4 };

// The texts of the file operations, one place for the language files to hook.
enum class FileText : uint8_t {
  ConfirmDelete,   // caption of the question before deleting or wiping
  ConfirmReplace,  // caption of the question before replacing files of the same name
  CannotDelete,    // the file could not be deleted
  CannotWipe,
  CannotRename,
  CannotSave,
  CannotPaste,     // nothing readable on the clipboard
  BitmapFilter,    // the save dialog's only filter
  ChooseCopyFolder,
  ChooseMoveFolder,
};
const wchar_t* FileOperationText(FileText text);
inline constexpr wchar_t kMessageCaption[] = L"Pixvane";

inline std::wstring CompanionPath(std::wstring_view image) { return std::wstring(image) + L".pva"; }

// What a shell operation comes down to, or nothing when it is refused: no
// sources, no target where one is needed, a copy into the sources' own
// folder, a rename into another folder, a move into the folder the files
// are in. A move to another name in the same folder is a rename.
struct OperationPlan {
  FileOp op;
  std::wstring sourceFolder;  // with its final separator
  std::wstring targetFolder;
};
std::optional<OperationPlan> PlanFileOperation(FileOp op, const std::vector<std::wstring>& from, const wchar_t* to,
                                               const std::function<bool(const wchar_t*)>& isDirectory);

// The question before deleting: the path; two paths; or two and the count
// of the others. Empty when a name is no file ("<clipboard>"): such an
// image cannot be deleted.
std::wstring ConfirmationText(const std::vector<std::wstring>& files);

// Folder (with separator), base name and extension (from the last "." of
// the name; a name that is only an extension is its own base).
struct NameParts {
  std::wstring folder, base, extension;
};
NameParts SplitImageName(std::wstring_view path);
// The path with a new base name and the old extension; empty when the new
// base is empty, the same or no valid file name.
std::wstring RenamedPath(std::wstring_view path, std::wstring_view newBase);

// The name part of the path with every character but "." replaced by a
// random letter from "a" to "y".
std::wstring ScrambledName(std::wstring_view path, std::minstd_rand& random);

#ifdef _WIN32
// Runs the operation through SHFileOperationW with the folder's watcher
// suspended, and shows it in the folder's listing. True when it succeeded or
// the user cancelled it in the shell's own dialogs.
// With replaceConfirmed the shell asks no more before replacing files.
bool ShellFileOperation(HWND owner, ImageCache* cache, FileOp op, const std::vector<std::wstring>& from,
                        const wchar_t* to, bool replaceConfirmed = false);
// Deletes (to the recycle bin) or wipes the files and their companions.
// False, after telling the user, when a file could not be removed; it stays
// where it was and listed.
bool DeleteFiles(HWND owner, ImageCache* cache, const std::vector<std::wstring>& files, bool wipe);
// The question before deleting; true for Yes.
bool ConfirmFileOperation(HWND owner, const std::vector<std::wstring>& files);
// Copies or moves (with companions) into a folder, or the folder of the
// path given; files of the same name there are replaced only when the user
// says so, else skipped. True on success or when the user cancelled.
bool CopyFileToFolder(HWND owner, ImageCache* cache, FileOp op, const std::wstring& folder,
                      const std::vector<std::wstring>& files);
// A folder the user picks; empty when cancelled.
std::wstring ChooseFolder(HWND owner, FileText title);
// Asks for a new base name (the rename dialog); empty when cancelled.
std::wstring AskNewBaseName(HWND owner, std::wstring_view path);
// Renames the image and its companion; the new path, or empty after telling
// the user that the name could not be given.
std::wstring RenameImageTo(HWND owner, ImageCache* cache, const std::wstring& path, std::wstring_view newBase);
// The dialog and the rename together; the new path or empty.
std::wstring RenameImageFile(HWND owner, ImageCache* cache, const std::wstring& path);

// Writes the bitmap file under a temporary name beside the target and puts
// it in the target's place only when complete: a failed write leaves an
// existing file as it was.
bool WriteFileReplacing(const std::wstring& path, const std::vector<uint8_t>& bytes);

// The image as a bitmap file at `path`, with the resolution of the density
// text ("72 x 72 ppi") when one is given; false when it was not written.
bool SaveBitmapFile(ImageBuffer& image, const wchar_t* density, const std::wstring& path);

// The image as CF_DIB; false when the clipboard refused it.
bool CopyImageToClipboard(HWND window, ImageBuffer& image);
// Whether the clipboard offers a DIB.
bool ClipboardHasImage();
// Writes the clipboard's DIB as "pvclipb.bmp" in the temporary folder; the
// file's path, or empty when there is none or it is damaged.
std::wstring WriteClipboardBitmap();
// The whole screen, or the window's rectangle, as an Rgba8 image; empty on failure.
Ref<ImageBuffer> CaptureScreenImage(HWND window);
#endif

}  // namespace pv
