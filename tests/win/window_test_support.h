#pragma once
// What the window tests share: test images, waiting, and what the screen shows.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace pvtest {

// A w × h gradient as R, G, B, A with a blue of its own.
std::vector<uint8_t> Gradient(uint32_t w, uint32_t h, uint8_t blue);

// Polls until `done` or the time is up, handling this thread's messages
// meanwhile as the window's loop would; the last answer of `done`.
bool WaitFor(const std::function<bool()>& done, int milliseconds = 20000);

// Handles the waiting messages, then more as they come for `milliseconds`.
void PumpMessages(int milliseconds = 0);

std::wstring TitleOf(HWND window);
// Sizes and screen positions as (x, y) pairs, which compare and print whole.
using XY = std::pair<LONG, LONG>;
XY WindowSizeOf(HWND window);
XY ClientSizeOf(HWND window);
XY ClientOriginOf(HWND window);

// Until the result is destroyed, every dialog box this thread shows is
// answered: `answer` where it offers that button, else OK, after typing
// `typed` (when given) into its control `field`. The captions of the boxes
// answered are kept.
class DialogAnswerer {
 public:
  explicit DialogAnswerer(int answer = IDNO, const wchar_t* typed = nullptr, int field = 0);
  ~DialogAnswerer();
  const std::vector<std::wstring>& Captions() const { return captions_; }

 private:
  UINT_PTR timer_;
  int answer_;
  std::wstring typed_;
  int field_;
  HWND last_ = nullptr;
  std::vector<std::wstring> captions_;
};

// Works a dialog box of this thread once one with this title shows, from
// inside its modal loop.
void WhenDialogShows(const wchar_t* title, std::function<void(HWND)> action);

// The screen pixels of the window's client area, as R, G, B, A.
std::vector<uint8_t> ClientPixels(HWND window);
// The screen pixels of a rectangle, as R, G, B, A.
std::vector<uint8_t> ScreenPixels(const RECT& area);

// Wine moves deleted files to the desktop's trash where there is one: true
// when it holds the file with these contents (the entry is then removed),
// or when there is no trash.
bool InTrash(const std::filesystem::path& file, const std::string& contents);

}  // namespace pvtest
