#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks for both builds and their tests.
# Idempotent and quiet when everything is already there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build ccache g++ clang libclang-rt-14-dev
  zlib1g-dev libwebp-dev libdeflate-dev libgtest-dev googletest
  libjpeg62-turbo-dev libturbojpeg0-dev libpng-dev libgif-dev libtiff-dev libswscale-dev pkg-config
  libmagickcore-6.q16-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  wine wine64 xvfb xauth x11-apps imagemagick
  libimage-exiftool-perl python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# libwebp for the Windows build, from Debian's source package.
deps="$here/build/deps"
if [ ! -f "$deps/lib/libwebp.a" ]; then
  echo "setup: building libwebp for mingw-w64"
  work="$deps/src"
  rm -rf "$work"; mkdir -p "$work/apt/lists/partial"
  echo "deb-src http://deb.debian.org/debian bookworm main" > "$work/apt/sources.list"
  aptopts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt"
           -o Dir::State::Lists="$work/apt/lists" -qq)
  apt-get "${aptopts[@]}" update
  (cd "$work" && apt-get "${aptopts[@]}" source --download-only libwebp >/dev/null 2>&1)
  tarball=$(ls "$work"/libwebp_*.orig.tar.* | head -n 1)
  tar -xf "$tarball" -C "$work"
  srcdir=$(find "$work" -maxdepth 1 -type d -name 'libwebp-*' | head -n 1)
  cmake -S "$srcdir" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DBUILD_SHARED_LIBS=OFF -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF \
    -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF \
    -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF \
    -DWEBP_BUILD_EXTRAS=OFF -DWEBP_BUILD_LIBWEBPMUX=OFF >/dev/null 2>&1 ||
    { echo "setup: configuring libwebp failed" >&2; exit 1; }
  cmake --build "$work/build" >/dev/null
  cmake --install "$work/build" >/dev/null
  rm -rf "$work"
fi

# libdeflate for the Windows build, from Debian's source package (a plain
# Makefile: its static library alone).
if [ ! -f "$deps/lib/libdeflate.a" ]; then
  echo "setup: building libdeflate for mingw-w64"
  work="$deps/src-deflate"
  rm -rf "$work"; mkdir -p "$work/apt/lists/partial" "$deps/lib" "$deps/include"
  echo "deb-src http://deb.debian.org/debian bookworm main" > "$work/apt/sources.list"
  aptopts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt"
           -o Dir::State::Lists="$work/apt/lists" -qq)
  apt-get "${aptopts[@]}" update
  (cd "$work" && apt-get "${aptopts[@]}" source --download-only libdeflate >/dev/null 2>&1)
  tarball=$(ls "$work"/libdeflate_*.orig.tar.* | head -n 1)
  tar -xf "$tarball" -C "$work"
  srcdir=$(find "$work" -maxdepth 1 -type d -name 'libdeflate-*' | head -n 1)
  make -C "$srcdir" -j"$(nproc)" CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar \
    libdeflatestatic.lib >/dev/null || { echo "setup: building libdeflate failed" >&2; exit 1; }
  cp "$srcdir/libdeflatestatic.lib" "$deps/lib/libdeflate.a"
  cp "$srcdir/libdeflate.h" "$deps/include/"
  rm -rf "$work"
fi

# A private Wine prefix, so tests never touch a user's own.
export WINEPREFIX="$here/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "setup: creating the Wine prefix"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
