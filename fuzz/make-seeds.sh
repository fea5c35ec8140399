#!/usr/bin/env bash
# make-seeds.sh DATA_DIR OUT_DIR: one seed per table of the test data (length prefix, ".db", ".mb" if any).
set -euo pipefail
data=$1 out=$2
mkdir -p "$out"
find "$data" -type f \( -iname '*.db' \) -size -200k | while read -r db; do
  name=$(basename "$db")
  stem=${db%.*}
  mb=""
  for ext in mb MB; do
    if [ -f "$stem.$ext" ]; then mb="$stem.$ext"; fi
  done
  n=$(stat -c %s "$db")
  {
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((n & 255)) $(((n >> 8) & 255)) $(((n >> 16) & 255)) $(((n >> 24) & 255)))"
    cat "$db"
    # Large ".mb" files are cut: the seed stays small and the reader must cope with a short companion.
    if [ -n "$mb" ]; then head -c 65536 "$mb"; fi
  } > "$out/$(basename "$(dirname "$db")")-$name.seed"
done
