#pragma once
#include <cstddef>
#include <string_view>

namespace pv {

// Whether c ends a folder or drive part of a path: "\", "/" or the colon of
// a drive ("C:y.png" names "y.png" in the current folder of drive C).
inline bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/' || c == L':'; }

// Offset of the name in a path: just after its last separator (0 when none).
inline size_t FileNameOffset(std::wstring_view path) {
  const size_t cut = path.find_last_of(L"\\/:");
  return cut == std::wstring_view::npos ? 0 : cut + 1;
}

inline std::wstring_view FileNamePart(std::wstring_view path) { return path.substr(FileNameOffset(path)); }

// Whether the path ends in `suffix` (lower-case ASCII), ignoring case:
// for formats that are known by their name rather than their content.
inline bool PathEndsWithNoCase(std::wstring_view path, std::wstring_view suffix) {
  if (path.size() < suffix.size()) return false;
  const std::wstring_view tail = path.substr(path.size() - suffix.size());
  for (size_t i = 0; i < suffix.size(); ++i) {
    const wchar_t c = tail[i] >= L'A' && tail[i] <= L'Z' ? static_cast<wchar_t>(tail[i] + 32) : tail[i];
    if (c != suffix[i]) return false;
  }
  return true;
}

// Images that come from no file ("<clipboard>", "<capture>") are named in
// angle brackets, which no file path can start with.
inline bool IsPseudoPath(std::wstring_view path) { return !path.empty() && path[0] == L'<'; }

}  // namespace pv
