#!/usr/bin/env bash
# Builds the fuzz preset and runs each fuzzer for a bounded time (default
# 60 s each) from its seed corpus: every corpus in fuzz/corpus/ names one,
# or only those named after the time (run-fuzzers.sh 60 texel_coverage). Any crash, sanitizer report, leak,
# timeout or failed check fails the script; the input that caused it is
# kept under build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
only=("${@:2}")
# Seconds one input may take. A longer limit suits a machine busy with other
# work, where a fuzzer at low priority can stall for seconds between inputs.
timeout="${VOSH_FUZZ_TIMEOUT:-10}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

findings="build-fuzz/findings"
mkdir -p "$findings"
status=0
for corpus in fuzz/corpus/*/; do
    name="$(basename "$corpus")"
    if (( ${#only[@]} )) && [[ ! " ${only[*]} " == *" $name "* ]]; then continue; fi
    fuzzer="build-fuzz/fuzz/${name}_fuzzer"
    if [[ ! -x "$fuzzer" ]]; then
        echo "FAIL: corpus $corpus has no fuzzer $fuzzer (not built by the fuzz preset?)"
        status=1
        continue
    fi
    # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
    work="$(mktemp -d)"
    log="$work/log"
    # Keys and names of a text format, where there is a dictionary for it.
    dict=()
    if [ -f "fuzz/${name}.dict" ]; then dict=(-dict="fuzz/${name}.dict"); fi
    echo "--- ${name}_fuzzer for ${seconds}s"
    if "$fuzzer" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=4096 -print_final_stats=1 \
        "${dict[@]}" -artifact_prefix="$findings/${name}-" "$work" "$corpus" >"$log" 2>&1; then
        runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
        echo "ok: ${name}_fuzzer ran ${runs:-?} inputs, no finding"
    else
        status=1
        echo "FAIL: ${name}_fuzzer found a problem:"
        grep -v '^#' "$log" | tail -40
    fi
    rm -rf "$work"
done
exit $status
