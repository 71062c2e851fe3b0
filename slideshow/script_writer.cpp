#include "slideshow/script_writer.h"

#include <algorithm>
#include <cstdio>

#include "browse/file_names.h"
#include "core/text.h"

namespace pv {

namespace {

constexpr size_t kMaxNameBytes = 780;

}  // namespace

std::string FormatSlideshowScript(std::vector<std::wstring> names, const Options& options) {
  bool utf8 = false;
  for (std::wstring& name : names) {
    if (!options.slideFullPaths) {
      const size_t cut = name.find_last_of(L"\\/:");
      if (cut != std::wstring::npos) name.erase(0, cut + 1);
    }
    utf8 = utf8 || std::any_of(name.begin(), name.end(), [](wchar_t c) { return c >= 0x100; });
  }
  // Exchange passes and a stable sort give the same order.
  if (options.slideSort) {
    std::stable_sort(names.begin(), names.end(),
                     [](const std::wstring& a, const std::wstring& b) { return CompareFileNames(a.c_str(), b.c_str()) < 0; });
  }
  std::string text = "Pixvane SlideShow {\r\n";
  if (options.slideLoop) text += "loop {\r\n";
  if (options.slideSelfDelete) text += "\tset SelfDelete;\r\n";
  char delay[64] = "";
  if (options.slideDelayMode == 1) {
    std::snprintf(delay, sizeof delay, " delay key;");
  } else if (options.slideDelayMode == 2) {
    std::snprintf(delay, sizeof delay, " delay %.1f;", options.slideDelayTenths * 0.1);
  }
  for (const std::wstring& name : names) {
    std::string bytes;
    if (utf8) {
      bytes = WideToUtf8(name);
    } else {
      for (wchar_t c : name) bytes += static_cast<char>(c);
    }
    // A cut never splits a UTF-8 sequence.
    size_t keep = std::min(bytes.size(), kMaxNameBytes);
    while (utf8 && keep < bytes.size() && (static_cast<uint8_t>(bytes[keep]) & 0xC0) == 0x80) --keep;
    text += "\tdisplay \"" + bytes.substr(0, keep) + "\";" + delay + "\r\n";
  }
  if (options.slideLoop) text += "} // loop\r\n";
  text += "}\r\n";
  return text;
}

}  // namespace pv
