#include "viewer/error_text.h"

namespace pv {

const ErrorTextEntry kErrorTexts[] = {
    {kStatusFormatMismatch, L"The image could not be shown."},
    {kStatusSizeMismatch, L"The image has an invalid size."},
    {kStatusOutOfMemory, L"There is not enough memory to show the image."},
    {kStatusCannotOpen, L"The file could not be opened:\n\"%s\""},
    {kStatusCannotCreate, L"The file could not be created."},
    {kStatusCannotRead, L"The file could not be read."},
    {kStatusCannotWrite, L"The file could not be written."},
    {kStatusUnknownFormat, L"The file format is not known."},
    {kStatusDamaged, L"The file is damaged or incomplete."},
    {kStatusUnsupported, L"This variant of the file format is not supported."},
    {kStatusColourFormat, L"The colour format of the image is not supported."},
    {kStatusLibraryMissing, L"A library needed for this file format is missing."},
    {kStatusCancelled, L"Loading the image was cancelled."},
};
const size_t kErrorTextCount = sizeof kErrorTexts / sizeof kErrorTexts[0];
const wchar_t kUnknownErrorText[] = L"An unknown error occurred.";

const wchar_t* ErrorText(Status status) {
  for (const ErrorTextEntry& entry : kErrorTexts) {
    if (entry.status == status) return entry.text;
  }
  return kUnknownErrorText;
}

std::wstring ErrorMessage(Status status, std::wstring_view translatedText, std::wstring_view path) {
  std::wstring message(translatedText);
  if (status == kStatusCannotOpen) {
    size_t at = message.find(L"%s");
    if (at != std::wstring::npos) message.replace(at, 2, path);
  }
  return message;
}

}  // namespace pv
