#!/usr/bin/env bash
# run-fuzzers.sh BUILD_DIR MODE [READER...]: runs the fuzz targets of the readers (default: all four), one after the
# other, each starting from its kept corpus fuzz/corpus/<reader>/ (the repository's copy is only read: new inputs
# go to BUILD_DIR/corpus/<reader>/, the crashes to BUILD_DIR/<reader>-crash-*). MODE:
#   runs=N      N inputs per reader (the smoke run of `make test-asan`), at most FUZZ_MAX_SECONDS when set
#   seconds=S   S seconds per reader (`make fuzz`)
#   merge       renews fuzz/corpus/<reader>/: of it and BUILD_DIR/corpus/<reader>/, the FUZZ_CORPUS_FILES (40) inputs
#               that cover the most edges by libFuzzer's -merge=1 (pick-corpus.py)
# Every line of the fuzzers' final statistics (runs, time) goes to BUILD_DIR/<reader>.log.
set -euo pipefail
build=$1 mode=$2
shift 2
readers=("$@")
[ ${#readers[@]} -gt 0 ] || readers=(paradox xls xlsx text)
here=$(cd "$(dirname "$0")" && pwd)

max_len() {
  case $1 in
    paradox) echo 80000 ;;
    xls) echo 65536 ;;
    xlsx) echo 20000 ;;
    text) echo 2048 ;;
  esac
}

export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for reader in "${readers[@]}"; do
  kept=$here/corpus/$reader
  found=$build/corpus/$reader
  mkdir -p "$found"
  common=(-max_len="$(max_len "$reader")" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$build/$reader-")
  case $mode in
    runs=*) args=(-runs="${mode#runs=}" -seed=1 -print_final_stats=1 ${FUZZ_MAX_SECONDS:+-max_total_time=$FUZZ_MAX_SECONDS}) ;;
    seconds=*) args=(-max_total_time="${mode#seconds=}" -print_final_stats=1) ;;
    merge)
      # libFuzzer's -merge=1 measures every input's edges; the few dozen that cover the most are kept.
      rm -rf "$build/merged/$reader" "$build/picked/$reader" && mkdir -p "$build/merged/$reader" "$build/picked/$reader"
      "$build/fuzz_$reader" -merge=1 -merge_control_file="$build/$reader.merge" "${common[@]}" \
        "$build/merged/$reader" "$kept" "$found" > "$build/$reader-merge.log" 2>&1
      python3 "$here/pick-corpus.py" "$build/$reader.merge" "${FUZZ_CORPUS_FILES:-40}" |
        while read -r input; do cp "$input" "$build/picked/$reader/$(sha1sum < "$input" | cut -c1-40)"; done
      mkdir -p "$kept" && rm -f "$kept"/* && cp "$build/picked/$reader"/* "$kept"/
      echo "$reader: $(ls "$kept" | wc -l) files, $(du -sk "$kept" | cut -f1) KiB"
      continue ;;
    *) echo "unknown mode $mode" >&2; exit 2 ;;
  esac
  echo "== fuzz_$reader ${args[*]}"
  start=$(date +%s)
  "$build/fuzz_$reader" "${args[@]}" "${common[@]}" "$found" "$kept" 2>&1 | tee "$build/$reader.log" |
    grep -E '^(INFO: Running|Done|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)' || true
  status=${PIPESTATUS[0]}
  echo "fuzz_$reader: exit $status after $(( $(date +%s) - start )) s"
  [ "$status" -eq 0 ] || exit "$status"
done
