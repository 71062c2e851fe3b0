#pragma once
// The texts the viewer shows when a file cannot be shown. They are the keys
// of the language dictionary, so the viewer translates them before use.
#include <cstddef>
#include <string>
#include <string_view>

#include "core/status.h"

namespace pv {

struct ErrorTextEntry {
  Status status;
  const wchar_t* text;
};

// One entry per failure code; the text of kStatusCannotOpen holds one "%s"
// for the path.
extern const ErrorTextEntry kErrorTexts[];
extern const size_t kErrorTextCount;
// For codes outside the table.
extern const wchar_t kUnknownErrorText[];

// The untranslated text of `status`.
const wchar_t* ErrorText(Status status);

// The message for `status` from its translated text: for kStatusCannotOpen
// the first "%s" becomes the path. Translations come from files, so the text
// is never used as a printf format.
std::wstring ErrorMessage(Status status, std::wstring_view translatedText, std::wstring_view path);

}  // namespace pv
