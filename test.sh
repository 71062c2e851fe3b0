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
# The Windows tests spend most of their time waiting on Wine and the X
# server, not on the processor: they run while the native builds and tests
# do, and their result is collected afterwards.
windows_pid=
windows_start() {
  build build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" || return 1
  xvfb-run -a -s "-screen 0 1280x1024x24" scripts/with-wine.sh ctest --test-dir build/win --output-on-failure \
    >build/win/test.log 2>&1 &
  windows_pid=$!
}
windows_wait() {
  [ -n "$windows_pid" ] || return 1
  wait "$windows_pid"
  local rc=$?
  cat build/win/test.log
  return $rc
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
  # One budget for all targets, shared out evenly, two targets at a time.
  local seconds
  seconds=$(( ${PV_FUZZ_TOTAL_SECONDS:-360} / $(find fuzz -name '*_fuzz.cpp' | wc -l) ))
  [ "$seconds" -ge 10 ] || seconds=10
  scripts/fuzz-campaign.sh -seconds "$seconds" -jobs 2
}

step "Windows build" windows_start
step "native tests" native
step "native tests under ASan and UBSan" sanitized
step "Windows tests under Wine" windows_wait
step "native and Windows decodes agree" same_output
step "fuzzing" fuzz

echo "test.sh: $passed passed, $failed failed"
[ $failed -eq 0 ]
