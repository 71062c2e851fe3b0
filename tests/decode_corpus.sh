#!/usr/bin/env bash
# Runs pixvane-decode over the shared corpus of the given formats and checks
# each file's outcome against its MANIFEST: "decode" must exit 0, "reject" 1,
# "either" 0 or 1. Anything else (a crash, a sanitizer report, a hang, bad
# usage) fails. The --info text and decoded pixels are kept in OUTDIR so that
# two builds can be compared.
#
# usage: decode_corpus.sh OUTDIR FORMATS -- TOOL [ARGS...]
#   FORMATS  comma-separated corpus folders (bmp,gif,...)
#   PV_WINE_PATHS=1  hand the tool Wine paths (Z:...)
set -u
out=$1
formats=$2
shift 3
tool=("$@")
here=$(cd "$(dirname "$0")" && pwd)
corpus="$here/../../shared/testdata"
if [ ! -d "$corpus" ]; then
  echo "decode-corpus: the shared corpus is absent; every case skipped"
  echo "decode-corpus: 0 passed, 0 failed, 1 skipped"
  exit 0
fi
corpus=$(cd "$corpus" && pwd)
pass=0
fail=0
wpath() { if [ "${PV_WINE_PATHS:-0}" = 1 ]; then echo "Z:$1"; else echo "$1"; fi; }

# Runs the tool once. Under a loaded Wine a program now and then fails to
# start and leaves no output at all, which the tool itself never does (every
# failure prints its status): such a run is tried again, at most twice.
run_tool() {
  local out err rc try
  for try in 1 2 3; do
    out=$(timeout 120 "${tool[@]}" "$@" 2>/tmp/pv-corpus-err.$$)
    rc=$?
    err=$(cat /tmp/pv-corpus-err.$$)
    if [ "${PV_WINE_PATHS:-0}" != 1 ] || [ -n "$out$err" ] || { [ $rc -eq 0 ] && [ "$1" = --out ]; }; then
      break
    fi
  done
  rm -f /tmp/pv-corpus-err.$$
  [ -n "$out" ] && printf '%s\n' "$out"
  [ -n "$err" ] && printf '%s\n' "$err" >&2
  return $rc
}

for fmt in ${formats//,/ }; do
  dir="$corpus/$fmt"
  [ -f "$dir/MANIFEST.tsv" ] || continue
  mkdir -p "$out/$fmt"
  while IFS=$'\t' read -r file _origin _licence _exercises expected _reference; do
    [ "$file" = file ] && continue
    in=$(wpath "$dir/$file")
    result="$out/$fmt/$file"
    rm -f "$result.pam" "$result.info"
    run_tool --out "$(wpath "$result.pam")" "$in" >/dev/null 2>"$result.err"
    rc=$?
    run_tool --info "$in" 2>>"$result.err" | grep -v -P '^property\t0\t' >"$result.info"
    info_rc=${PIPESTATUS[0]}
    ok=1
    case "$expected" in
      decode) [ $rc -eq 0 ] || ok=0 ;;
      reject) [ $rc -eq 1 ] || ok=0 ;;
      *) [ $rc -eq 0 ] || [ $rc -eq 1 ] || ok=0 ;;
    esac
    { [ $info_rc -eq 0 ] || [ $info_rc -eq 1 ]; } || ok=0
    if grep -q -E 'Sanitizer|runtime error' "$result.err"; then ok=0; fi
    if [ $ok = 1 ]; then
      pass=$((pass + 1))
    else
      fail=$((fail + 1))
      echo "FAIL $fmt/$file: expected $expected, exit $rc (info $info_rc): $(head -c 300 "$result.err")"
    fi
  done <"$dir/MANIFEST.tsv"
done
echo "decode-corpus: $pass passed, $fail failed"
[ $fail -eq 0 ]
