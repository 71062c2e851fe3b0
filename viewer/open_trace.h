#pragma once
// When the environment variable PIXVANE_TRACE names a file, each image a
// window shows adds a line to it: how long the user waited from the key or
// the open to the image's decode, its first paint and its full-quality
// paint. Without the variable nothing is measured or written.
#include <windows.h>

#include <string>

namespace pv {

class OpenTrace {
 public:
  OpenTrace();
  // An open starts (kept when one is already waiting for its paint, so that
  // files skipped on the way count as the user's wait).
  void Begin(const wchar_t* path, bool cached);
  void Decoded();
  // The open failed and nothing else is tried.
  void Abandon() { pending_ = false; }
  // A paint of the shown image; `full` when it is the full-quality one,
  // which ends the open and writes its line.
  void Painted(bool full);

 private:
  double Since() const;

  bool on_ = false;
  bool pending_ = false;
  std::wstring file_;
  std::wstring path_;
  bool cached_ = false;
  LARGE_INTEGER start_{}, frequency_{};
  double decoded_ = 0, firstPaint_ = -1;
};

}  // namespace pv
