// A stored "Dictionary8" value as the settings store reads it back: the
// first four bytes are the stored size, the rest the packed stream. What
// unpacks is used for translation, and packs back to what unpacks the same.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/endian.h"
#include "settings/app_settings.h"
#include "settings/language.h"

namespace {

// The fuzzer's dictionaries stay small; the size checks are the same.
constexpr uint32_t kFuzzDictionaryBytes = 1u << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  std::vector<uint8_t> dictionary;
  if (!pv::UnpackDictionary(data + 4, size - 4, pv::LoadU32LE(data) % kFuzzDictionaryBytes, &dictionary)) return 0;
  for (const wchar_t* text : {L"Open", L"a", L"Pixvane", L"\u00D6ffnen and more than eight"}) {
    static_cast<void>(pv::TranslateWith(dictionary, text));
  }
  const std::vector<uint8_t> packed = pv::PackDictionary(dictionary);
  std::vector<uint8_t> again;
  if (!pv::UnpackDictionary(packed.data(), packed.size(), static_cast<uint32_t>(dictionary.size()), &again) ||
      again != dictionary) {
    __builtin_trap();
  }
  return 0;
}
