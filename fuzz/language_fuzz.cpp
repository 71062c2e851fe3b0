// Language files and stored dictionaries: the bytes as a file, and the same
// bytes as a dictionary read back from the registry.
#include "settings/language.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> dictionary = pv::BuildDictionary(data, size);
  const std::vector<uint8_t> raw(data, data + size);
  for (const wchar_t* text : {L"Open", L"a", L"Pixvane", L"\u00D6ffnen and more than eight"}) {
    static_cast<void>(pv::TranslateWith(dictionary, text));
    static_cast<void>(pv::TranslateWith(raw, text));
  }
  return 0;
}
