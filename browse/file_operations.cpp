#include "browse/file_operations.h"

#include "core/format_registry.h"
#include "core/path_name.h"

namespace pv {

const wchar_t* FileOperationText(FileText text) {
  switch (text) {
    case FileText::ConfirmDelete:
      return L"Delete these files?";
    case FileText::ConfirmReplace:
      return L"Replace these files?";
    case FileText::CannotDelete:
      return L"The file cannot be deleted.";
    case FileText::CannotWipe:
      return L"The file cannot be wiped.";
    case FileText::CannotRename:
      return L"The file cannot be given this name.";
    case FileText::CannotSave:
      return L"The bitmap cannot be written.";
    case FileText::CannotPaste:
      return L"The clipboard holds no image that can be shown.";
    case FileText::BitmapFilter:
      return L"Windows bitmap (.bmp)";
    case FileText::ChooseCopyFolder:
      return L"Copy to folder";
    case FileText::ChooseMoveFolder:
      return L"Move to folder";
  }
  return L"";
}

namespace {

// Up to and including the last "\" (or "/").
std::wstring FolderOf(std::wstring_view path) {
  const size_t cut = path.find_last_of(L"\\/");
  return std::wstring(cut == std::wstring_view::npos ? std::wstring_view() : path.substr(0, cut + 1));
}

std::wstring WithSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder;
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && CompareNoCase(a.c_str(), b.c_str()) == 0;
}

}  // namespace

std::optional<OperationPlan> PlanFileOperation(FileOp op, const std::vector<std::wstring>& from, const wchar_t* to,
                                               const std::function<bool(const wchar_t*)>& isDirectory) {
  if (from.empty() || from[0].empty()) return std::nullopt;
  const std::wstring target = to ? to : L"";
  if (op != FileOp::Delete && target.empty()) return std::nullopt;
  OperationPlan plan{op, FolderOf(from[0]), {}};
  if (op == FileOp::Delete) return plan;
  const bool intoFolder = op != FileOp::Rename && isDirectory(target.c_str());
  plan.targetFolder = intoFolder ? WithSeparator(target) : FolderOf(target);
  const bool sameFolder = SameFolder(plan.sourceFolder, plan.targetFolder);
  switch (op) {
    case FileOp::Move:
      // Into the folder the files are in already, nothing would change.
      if (!sameFolder) return plan;
      if (intoFolder || from.size() != 1) return std::nullopt;
      plan.op = FileOp::Rename;
      return plan;
    case FileOp::Copy:
      if (sameFolder) return std::nullopt;
      return plan;
    default:  // rename
      if (!sameFolder || from.size() != 1) return std::nullopt;
      return plan;
  }
}

std::wstring ConfirmationText(const std::vector<std::wstring>& files) {
  for (const std::wstring& f : files) {
    if (f.empty() || IsPseudoPath(f)) return {};
  }
  switch (files.size()) {
    case 0:
      return {};
    case 1:
      return files[0];
    case 2:
      return files[0] + L"\n\n" + files[1];
    default:
      return files[0] + L"\n\n" + files[1] + L"\n\n... <+" + std::to_wstring(files.size() - 2) + L"> ...";
  }
}

NameParts SplitImageName(std::wstring_view path) {
  const size_t nameAt = FileNameOffset(path);
  NameParts parts;
  parts.folder = path.substr(0, nameAt);
  const std::wstring_view name = path.substr(nameAt);
  const size_t dot = name.rfind(L'.');
  const size_t cut = dot == std::wstring_view::npos || dot == 0 ? name.size() : dot;
  parts.base = name.substr(0, cut);
  parts.extension = name.substr(cut);
  return parts;
}

std::wstring RenamedPath(std::wstring_view path, std::wstring_view newBase) {
  const NameParts parts = SplitImageName(path);
  // A name of dots and blanks alone, or with a character no file name may
  // hold, would move the file or fail in the shell.
  if (newBase.empty() || newBase == parts.base || newBase.find_first_of(L"\\/:*?\"<>|") != std::wstring_view::npos ||
      newBase.find_first_not_of(L". ") == std::wstring_view::npos)
    return {};
  for (wchar_t c : newBase) {
    if (c < 32) return {};
  }
  std::wstring result = parts.folder + std::wstring(newBase) + parts.extension;
  return result.size() < 260 ? result : std::wstring();
}

std::wstring ScrambledName(std::wstring_view path, std::minstd_rand& random) {
  std::wstring name(path.substr(path.find_last_of(L"\\/") + 1));
  std::uniform_int_distribution<int> letter(0, 24);
  for (wchar_t& c : name) {
    if (c != L'.') c = static_cast<wchar_t>(L'a' + letter(random));
  }
  return name;
}

}  // namespace pv
