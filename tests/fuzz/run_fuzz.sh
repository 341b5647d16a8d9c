#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on top of its corpus: the seeds
# fuzz_seeds writes, the committed regressions and whatever earlier runs in
# the same work folder kept. Fails on any finding (crash, leak, timeout,
# memory limit); the input is left in <work>/artifacts/<target>/.
# Usage: run_fuzz.sh <fuzz build folder> <seconds per target> [work folder] [targets...]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
work=${3:-$build/fuzz-work}
shift $(( $# < 3 ? $# : 3 ))
targets=${*:-cfb import file_info jpeg properties}
here=$(cd "$(dirname "$0")" && pwd)
corpus_dir=$here/../../../shared/corpus

# Shorter allocation stacks and a smaller quarantine: faster runs, and room
# under the RSS limit. Freed memory stays in the process instead of being
# returned and faulted in again for the next input.
export ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=8:quarantine_size_mb=64:allocator_release_to_os_interval_ms=-1}

mkdir -p "$work"
"$build/fuzz/fuzz_seeds" "$work/seeds" $( [ -d "$corpus_dir" ] && echo "$corpus_dir" ) >/dev/null

# Inputs beyond a few tens of kilobytes only slow the search down: the file
# targets' seeds are smaller than this.
declare -A max_len=([cfb]=65536 [import]=65536 [file_info]=65536 [jpeg]=16384 [properties]=8192)
status=0
for t in $targets; do
    mkdir -p "$work/corpus/$t" "$work/artifacts/$t" "$here/regressions/$t"
    log=$work/$t.log
    if ! "$build/fuzz/fuzz_$t" -rss_limit_mb=512 -malloc_limit_mb=256 -timeout=5 \
            -max_total_time="$seconds" -max_len="${max_len[$t]}" -print_final_stats=1 \
            -dict="$here/dict/$t.dict" -artifact_prefix="$work/artifacts/$t/" \
            "$work/corpus/$t" "$work/seeds/$t" "$here/regressions/$t" >"$log" 2>&1; then
        status=1
    fi
    if [ -n "$(ls -A "$work/artifacts/$t")" ]; then
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: //p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
    echo "fuzz_$t: ${runs:-?} executions, ${cov:-cov: ?} edges, findings: $(ls "$work/artifacts/$t" | wc -l)"
    if [ "$status" -ne 0 ]; then
        grep -E 'ERROR|SUMMARY|runtime error' "$log" | head -5 >&2 || true
    fi
done
exit $status
