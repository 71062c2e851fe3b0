#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for a while, with seeds and a
# dictionary per format, keeps each crash, hang and sanitizer report with the
# log of its run, and prints one line per target.
#
#   scripts/fuzz-campaign.sh [minutes per target, default 10] [-seconds N] [-jobs 1|2] [target...]
#
# Corpora grow in build/fuzz/fuzz/<target>.corpus and are kept between runs;
# findings go to build/fuzz/campaign/<time>/findings/<target>/. Exits non-zero
# when anything was found.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/env.sh

seconds=600 jobs=2 only=()
while [ $# -gt 0 ]; do
  case $1 in
    -jobs) jobs=$2; shift 2 ;;
    -jobs=*) jobs=${1#-jobs=}; shift ;;
    -seconds) seconds=$2; shift 2 ;;
    -seconds=*) seconds=${1#-seconds=}; shift ;;
    [0-9]*) seconds=$(awk -v m="$1" 'BEGIN { printf "%d", m * 60 }'); shift ;;
    *) only+=("${1%_fuzz}"); shift ;;
  esac
done
# Two cores: more targets at once would only slow each other down.
if ! [[ $jobs =~ ^[12]$ && $seconds =~ ^[0-9]+$ && $seconds -ge 1 ]]; then
  echo "usage: $0 [minutes] [-seconds N] [-jobs 1|2] [target...]" >&2
  exit 2
fi
if ! command -v clang++ >/dev/null; then
  echo "fuzz-campaign: clang is missing" >&2
  exit 1
fi
build build/fuzz -DPV_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ || exit 1

bin=build/fuzz/fuzz
run=build/fuzz/campaign/$(date -u +%Y%m%d-%H%M%S)
mkdir -p "$run/seeds" "$run/findings" "$run/results"
shared=../shared/testdata
decoders=" bmp dds fits gif hdr ico iff jpeg pcx png psd tga tiff webp "
declare -A sample_ext=([jpeg]=jpg [tiff]=tif)

# Seeds are copies: libFuzzer writes into its first folder only, which is the
# target's own corpus, never a shared one.
make_seeds() {
  local stem=$1 dir=$run/seeds/$1 format
  mkdir -p "$dir"
  if [[ $decoders == *" $stem "* ]]; then
    [ -d "$shared/$stem" ] && find "$shared/$stem" -type f ! -name '*.pam' ! -name '*.tsv' -size -200k \
      -exec cp -n {} "$dir/" \;
    cp -n samples/*."${sample_ext[$stem]:-$stem}" "$dir/" 2>/dev/null
  elif [ "$stem" = open_road ] || [ "$stem" = metadata ]; then
    # The metadata readers take every byte as a candidate block: small files
    # keep them at hundreds of runs a second.
    local most=-200k
    [ "$stem" = metadata ] && most=-32k
    for format in $decoders; do
      [ -d "$shared/$format" ] && find "$shared/$format" -type f ! -name '*.pam' ! -name '*.tsv' -size $most \
        -exec cp -n {} "$dir/" \;
    done
    find samples -type f ! -name '*.tsv' ! -name '*.pvs' -exec cp -n {} "$dir/" \;
  fi
  [ "$stem" = slideshow ] && cp -n samples/*.pvs "$dir/"
  [ -d "fuzz/seeds/$stem" ] && cp -n fuzz/seeds/"$stem"/* "$dir/"
  # Inputs that once broke a decoder stay good starting points.
  if [ "$stem" = open_road ]; then
    find tests/data/crashers -type f ! -name '*.tsv' -exec cp -n {} "$dir/" \;
  else
    cp -n tests/data/crashers/"$stem"-* "$dir/" 2>/dev/null
  fi
  return 0
}

dictionary_for() {
  local stem=$1
  case $stem in
    hand_over) stem=command_line ;;
    clipboard_dib) stem=bmp ;;
    open_road)
      # Every image format's words in one file.
      local all=$run/open_road.dict
      [ -f "$all" ] || for format in $decoders; do
        [ -f "fuzz/dict/$format.dict" ] && grep -v '^#' "fuzz/dict/$format.dict"
      done | sort -u >"$all"
      echo "-dict=$all"
      return
      ;;
  esac
  [ -f "fuzz/dict/$stem.dict" ] && echo "-dict=fuzz/dict/$stem.dict"
}

# Runs one target for its time. A finding stops libFuzzer, so it starts again
# on the grown corpus for the time that is left (a few times at most: the same
# fault found over and over teaches nothing).
run_target() {
  local target=$1 stem
  stem=$(basename "$target" _fuzz)
  local found=$run/findings/$stem log=$run/findings/$stem.log
  mkdir -p "$found" "$target.corpus"
  make_seeds "$stem"
  local dict start now left=$seconds starts=0 executions=0 n rc unit
  dict=$(dictionary_for "$stem")
  start=$(date +%s)
  : >"$log"
  while [ "$left" -gt 0 ] && [ $starts -lt 5 ]; do
    starts=$((starts + 1))
    # shellcheck disable=SC2086 # an empty dictionary option must vanish
    nice -n 10 "$target" -max_total_time="$left" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$found/" $dict "$target.corpus" "$run/seeds/$stem" >"$run/$stem.run" 2>&1
    rc=$?
    n=$(grep -oE '^stat::number_of_executed_units: [0-9]+' "$run/$stem.run" | grep -oE '[0-9]+$')
    # After a crash the final statistics may be missing: the last status line counts.
    [ -n "$n" ] || n=$(grep -oE '^#[0-9]+' "$run/$stem.run" | tail -1 | tr -d '#')
    executions=$((executions + ${n:-0}))
    cat "$run/$stem.run" >>"$log"
    unit=$(grep -oE 'Test unit written to [^ ]+' "$run/$stem.run" | tail -1 | sed 's/^Test unit written to //')
    [ -n "$unit" ] && [ -f "$unit" ] && cp "$run/$stem.run" "$unit.log"
    now=$(date +%s)
    left=$((seconds - (now - start)))
    [ $rc -eq 0 ] && break
  done
  rm -f "$run/$stem.run"
  n=$(find "$found" -type f ! -name '*.log' | wc -l)
  echo "$stem $executions $(($(date +%s) - start)) $n" >"$run/results/$stem"
}

targets=()
for target in $(find "$bin" -maxdepth 1 -name '*_fuzz' -type f -perm -u+x | sort); do
  stem=$(basename "$target" _fuzz)
  if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $stem "* ]]; then continue; fi
  targets+=("$target")
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz-campaign: no such target" >&2; exit 2; }
echo "fuzz-campaign: ${#targets[@]} targets, $seconds s each, $jobs at once; findings in $run/findings"
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_target "$target" &
done
wait
# The seeds are copies; the corpora and the findings stay.
rm -rf "$run/seeds"

total=0
printf '%-18s %12s %8s %9s\n' target executions seconds findings
for target in "${targets[@]}"; do
  read -r stem executions took found <"$run/results/$(basename "$target" _fuzz)"
  printf '%-18s %12s %8s %9s\n' "$stem" "$executions" "$took" "$found"
  total=$((total + found))
done
if [ $total -gt 0 ]; then
  echo "fuzz-campaign: $total findings:"
  find "$run/findings" -type f ! -name '*.log' | sort
fi
[ $total -eq 0 ]
