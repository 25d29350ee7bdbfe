#!/usr/bin/env bash
# Builds the fuzz targets as libFuzzer programs with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) in build-fuzz/, and runs each for SECONDS (default
# 60), one after the other, starting from its seed corpus. The corpus each run grows
# stays in build-fuzz/corpus/<name>/; a crashing input lands in build-fuzz/findings/.
# Prints the executions and coverage per fuzzer; exits non-zero on any finding.
#   ./fuzz.sh [SECONDS] [NAME...]
set -euo pipefail
cd "$(dirname "$0")"
seconds=${1:-60}
shift || true
all=(ReadBmp CreateFromHandle SharedChannel CommandSocket StreamEvent SaneFrame DsmSource)
[ $# -gt 0 ] && names=("$@") || names=("${all[@]}")

scripts/setup.sh install-fuzz
# ccache speeds rebuilds where it is installed; nothing needs it.
launcher=()
command -v ccache >/dev/null &&
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 "${launcher[@]}" \
    -DVELOMARK_FUZZ=ON -DVELOMARK_TESTS=OFF -DVELOMARK_BENCH=OFF >/dev/null
nice -n 5 cmake --build build-fuzz -j "$(nproc)" --target fuzzers

export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:${LSAN_OPTIONS:-}"
failed=0
summary=()
for name in "${names[@]}"; do
    work=build-fuzz/corpus/$name
    findings=build-fuzz/findings/$name
    log=build-fuzz/logs/$name.log
    mkdir -p "$work" "$findings" "$(dirname "$log")"
    seeds=(fuzz/corpus/"$name")
    [ -d fuzz/regressions/"$name" ] && seeds+=(fuzz/regressions/"$name")
    [ "$name" = ReadBmp ] && [ -d ../shared/testdata/bmpsuite ] && seeds+=(../shared/testdata/bmpsuite)
    echo "== $name: ${seconds}s"
    status=0
    build-fuzz/bin/"$name"Fuzz -max_total_time="$seconds" -print_final_stats=1 -timeout=20 \
        -rss_limit_mb=3072 -artifact_prefix="$findings/" "$work" "${seeds[@]}" >"$log" 2>&1 ||
        status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    result="ok"
    if [ "$status" -ne 0 ]; then
        result="FINDING (exit $status; see $log and $findings/)"
        failed=1
        grep -m1 -E "ERROR: |runtime error:|SUMMARY:" "$log" || true
    fi
    summary+=("$(printf '%-17s execs %-11s cov %-6s ft %-7s %s' "$name" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$result")")
done
echo
echo "fuzzer            executions        edges (cov)  features"
printf '%s\n' "${summary[@]}"
exit "$failed"
