#!/usr/bin/env bash
# Fails when a folder includes a header of a layer above it. Layers, lowest
# first; a folder may include any folder before it in this list.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
layers=(core metadata codecs toolkit browse settings slideshow viewer app tools)
rank() {
  local i
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}
bad=0
for folder in "${layers[@]}"; do
  [ -d "$root/$folder" ] || continue
  own=$(rank "$folder")
  while IFS=: read -r file line text; do
    target=${text#*\"}
    target=${target%%/*}
    theirs=$(rank "$target")
    if [ "$theirs" -gt "$own" ]; then
      echo "${file#"$root"/}:$line: $folder includes the higher layer $target"
      bad=1
    fi
  done < <(grep -rn --include='*.h' --include='*.cpp' -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' "$root/$folder")
done
[ $bad -eq 0 ] && echo "layers: every include points downwards"
exit $bad
