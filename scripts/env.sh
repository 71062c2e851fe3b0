# Shared by the scripts: the private Wine prefix and quiet Wine.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="$root/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
jobs=$(nproc)
# ccache, when installed, lets several work trees under one folder share
# their compilations.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")} CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# Configures (first time) and builds one build folder quietly; warnings and
# errors still show.
# Builds take a lock so that two of them never share the two cores.
build() {
  local dir=$1
  shift
  if [ ! -f "$root/$dir/build.ninja" ]; then
    flock /tmp/pv-build.lock cmake -S "$root" -B "$root/$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null || return 1
  fi
  # grep finding nothing to show is not a failure of the build.
  flock /tmp/pv-build.lock cmake --build "$root/$dir" -j"$jobs" |
    { grep -v -E '^\[[0-9]+/[0-9]+\]|^ninja: (no work|Entering)' || true; }
  [ "${PIPESTATUS[0]}" -eq 0 ]
}
