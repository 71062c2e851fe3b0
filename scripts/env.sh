# Shared by the scripts: the private Wine prefix and quiet Wine.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="$root/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
jobs=$(nproc)

# Configures (first time) and builds one build folder quietly; warnings and
# errors still show.
build() {
  local dir=$1
  shift
  if [ ! -f "$root/$dir/build.ninja" ]; then
    cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >/dev/null
  fi
  cmake --build "$root/$dir" -j"$jobs" | grep -v -E '^\[[0-9]+/[0-9]+\]|^ninja: (no work|Entering)' || true
  [ "${PIPESTATUS[0]}" -eq 0 ]
}
