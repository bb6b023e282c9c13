#!/usr/bin/env bash
# Throughput of paramextract next to grep on the same large input, and the
# time of scriptgen on the full 173-item input next to cat. Best of a few runs.
# usage: run_bench.sh GENERATOR SCRIPTGEN PARAMEXTRACT WORKDIR [MEGABYTES]
set -euo pipefail
generator=$1 scriptgen=$2 paramextract=$3 work=$4 megabytes=${5:-128}
mkdir -p "$work"
"$generator" "$work" "$megabytes"
mixed=$work/mixed.txt all=$work/all-items.txt

now() { date +%s%N; }
# best_of RUNS COMMAND...: the shortest wall time in nanoseconds
best_of() {
    local runs=$1 best=0 start elapsed
    shift
    for ((i = 0; i < runs; i++)); do
        start=$(now)
        "$@"
        elapsed=$(($(now) - start))
        ((best == 0 || elapsed < best)) && best=$elapsed
    done
    echo "$best"
}
rate() { awk -v bytes="$1" -v ns="$2" 'BEGIN { printf "%8.1f MB/s  (%.3f s)", bytes / 1048576 / (ns / 1e9), ns / 1e9 }'; }

run_paramextract() { "$paramextract" <"$mixed" >"$work/paramextract.out"; }
run_grep() { grep -a '^\$C' <"$mixed" >"$work/grep.out"; }
repeat() { for ((j = 0; j < 200; j++)); do "$@"; done; }
run_scriptgen() { "$scriptgen" <"$all" >"$work/script.out"; }
run_cat() { cat "$all" >"$work/cat.out"; }

size=$(stat -c %s "$mixed")
cat "$mixed" >/dev/null  # into the page cache
echo "input: $mixed, $((size / 1048576)) MB"
echo "paramextract:            $(rate "$size" "$(best_of 5 run_paramextract)")"
echo "grep -a '^\\\$C':          $(rate "$size" "$(best_of 5 run_grep)")"
echo "lines kept: paramextract $(grep -c '^\$C' "$work/paramextract.out"), grep $(wc -l <"$work/grep.out")"

if [[ -x /usr/bin/time ]]; then
    /usr/bin/time -o "$work/rss" -f %M "$paramextract" <"$mixed" >/dev/null
    echo "paramextract peak memory: $(cat "$work/rss") KiB for the whole input"
fi

sg=$(best_of 3 repeat run_scriptgen)
ct=$(best_of 3 repeat run_cat)
awk -v sg="$sg" -v ct="$ct" -v lines="$(grep -c '^\$C' "$all")" -v out="$(stat -c %s "$work/script.out")" 'BEGIN {
    printf "scriptgen on %d items:    %.3f ms per run (%d bytes of script)\n", lines, sg / 200 / 1e6, out
    printf "cat of that input:        %.3f ms per run\n", ct / 200 / 1e6 }'
