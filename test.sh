#!/usr/bin/env bash
# Sets up what is missing, builds both builds and runs every test: native,
# native under ASan and UBSan, the Windows tests under Wine inside Xvfb, the
# corpus through both builds of pixvane-decode, and short fuzz runs.
set -uo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh || exit 1
. scripts/env.sh

passed=0
failed=0
step() {
  local name=$1
  shift
  echo "== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "!! $name failed"
  fi
}

native() { build build/native -DPV_BENCH=ON && ctest --test-dir build/native --output-on-failure; }
sanitized() {
  build build/native-asan -DPV_SANITIZE=ON &&
    ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build/native-asan --output-on-failure
}
windows() {
  build build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" || return 1
  xvfb-run -a -s "-screen 0 1280x1024x24" scripts/with-wine.sh ctest --test-dir build/win --output-on-failure
}
same_output() {
  # Both builds of the tool give the same --info text and the same pixels.
  diff -r -q -x '*.err' build/native/corpus-out build/win/corpus-out
}
fuzz() {
  if ! command -v clang++ >/dev/null; then
    echo "clang is missing: fuzzing skipped"
    return 0
  fi
  build build/fuzz -DPV_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ || return 1
  local seeds=build/fuzz/seeds rc=0
  mkdir -p "$seeds"
  [ -d ../shared/testdata ] && find ../shared/testdata -type f ! -name '*.pam' ! -name '*.tsv' ! -name '*.md' \
    -size -200k -exec cp -n {} "$seeds/" \;
  cp -n samples/* "$seeds/"
  # One budget for all targets, shared out evenly.
  local targets seconds
  targets=$(find build/fuzz -name '*_fuzz' -type f -perm -u+x | sort)
  seconds=$(( ${PV_FUZZ_TOTAL_SECONDS:-480} / $(echo "$targets" | wc -l) ))
  [ "$seconds" -ge 10 ] || seconds=10
  for target in $targets; do
    mkdir -p "$target.corpus"
    echo "$target: $seconds s"
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -print_final_stats=0 \
      "$target.corpus" "$seeds" 2>"$target.log" >/dev/null || { rc=1; tail -40 "$target.log"; }
    grep -E '^(Done|#[0-9]+ +DONE)' "$target.log" | tail -1
  done
  return $rc
}

step "native tests" native
step "native tests under ASan and UBSan" sanitized
step "Windows tests under Wine" windows
step "native and Windows decodes agree" same_output
step "fuzzing" fuzz

echo "test.sh: $passed passed, $failed failed"
[ $failed -eq 0 ]
