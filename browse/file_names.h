#pragma once
#include <cstddef>

#include "core/file_io.h"
#include "core/path_name.h"

namespace pv {

// What the program puts between folder and name; both "\\" and "/" are
// accepted where paths are split.
#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
#else
inline constexpr wchar_t kPathSeparator = L'/';
#endif

// The one file-name order of the program: logical unless the Explorer
// policy asks for ordinal comparison (read once at start-up).
void SetOrdinalNameOrder(bool ordinal);
bool OrdinalNameOrder();
int CompareFileNames(const wchar_t* a, const wchar_t* b);

// Index of the registered format for the name's extension, or -1. The
// program's own ".pv?" files and extensions of 6 or more characters never
// count as images.
int IsImageName(const wchar_t* name);

// The text a file search must be given for `path`: long paths get the
// "\\?\" prefix, UNC paths "\\?\UNC\". False when it does not fit.
bool SearchPathFor(const wchar_t* path, wchar_t* out, size_t capacity);

}  // namespace pv
