#include "viewer/image_info.h"

#include <string>

#include "settings/language.h"

namespace pv {

namespace {

void AddLine(std::wstring& text, const wchar_t* name, const std::wstring& value) {
  text += Translate(name);
  text += L":\t";
  text += value;
  text += L"\r\n";
}

}  // namespace

std::wstring ImageInformationText(ImageBuffer& image, uint32_t frameIndex, uint32_t frameCount) {
  std::wstring text;
  AddLine(text, L"Size", std::to_wstring(image.Width()) + L" \u00D7 " + std::to_wstring(image.Height()) + L" pixels");
  if (frameCount > 1) AddLine(text, L"Frame", std::to_wstring(frameIndex + 1) + L" of " + std::to_wstring(frameCount));
  PropertySet& properties = image.Properties();
  for (uint32_t id = 0; id < kPropertyCount; ++id) {
    const wchar_t* value = properties.Has(id) ? properties.GetText(id) : nullptr;
    if (value && value[0]) AddLine(text, PropertyName(id), value);
  }
  return text;
}

}  // namespace pv
