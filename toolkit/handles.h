#pragma once
// Owners of Win32 handles: each closes its handle once, with the function
// that belongs to the handle's kind.
#include <windows.h>

#include <utility>

namespace pv {

template <class H, class Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(H handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : handle_(std::exchange(o.handle_, H{})) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    Reset(std::exchange(o.handle_, H{}));
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  H get() const { return handle_; }
  explicit operator bool() const { return handle_ != H{}; }
  void Reset(H handle = H{}) {
    if (handle_ != H{}) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  H handle_{};
};

struct AcceleratorTraits {
  static void Close(HACCEL h);
};
struct GdiObjectTraits {
  static void Close(HGDIOBJ h);
};
struct MenuTraits {
  static void Close(HMENU h);
};
struct IconTraits {
  static void Close(HICON h);
};
struct CursorTraits {
  static void Close(HCURSOR h);
};

// A keyboard accelerator table; windows hold a pointer to theirs so that the
// message loops can translate with it.
using AcceleratorTable = UniqueHandle<HACCEL, AcceleratorTraits>;
// Brushes, palettes, bitmaps.
template <class H>
using GdiObject = UniqueHandle<H, GdiObjectTraits>;

using MenuHandle = UniqueHandle<HMENU, MenuTraits>;
// Icons and cursors loaded from resources without sharing.
using OwnedIcon = UniqueHandle<HICON, IconTraits>;
using OwnedCursor = UniqueHandle<HCURSOR, CursorTraits>;

// A device context taken with GetDC and given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window);
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc();
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

}  // namespace pv
