#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time; fails on any crash.
#
#   tools/fuzz.sh           # 7 s per target, about a minute in all (what ./test runs)
#   tools/fuzz.sh 3600      # an hour per target, for fuzzing by hand
#
# Each target starts from its seeds in fuzz/corpus/<target>/, copied into
# build-fuzz/corpus/<target>/, where the inputs it finds gather from run to run;
# the committed seeds are never written. A crashing input is kept in
# build-fuzz/findings/<target>/ and its log in build-fuzz/logs/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-7}
targets=(fuzz_dump fuzz_decode fuzz_readings fuzz_pressure fuzz_link fuzz_telnet fuzz_endpoint fuzz_venue fuzz_pjlink fuzz_network fuzz_pjlinkserver fuzz_commandport)

# The fuzz preset in CMakePresets.json: clang, the libFuzzer hooks and both sanitizers.
cmake --preset fuzz >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

# In these targets one flood step costs as much as dozens of plain inputs, and
# without scaling libFuzzer spends most of their time running floods again. Each
# input is tried in proportion to how quick it is; floods still get their turn.
quick_first=(fuzz_link fuzz_network fuzz_pjlinkserver fuzz_commandport)

failed=()
for target in "${targets[@]}"; do
    scheduling=()
    if [[ " ${quick_first[*]} " == *" $target "* ]]; then
        scheduling=(-entropic_scale_per_exec_time=1)
    fi
    corpus=build-fuzz/corpus/$target
    findings=build-fuzz/findings/$target
    log=build-fuzz/logs/$target.log
    mkdir -p "$corpus" "$findings" "$(dirname "$log")"
    cp fuzz/corpus/"$target"/* "$corpus"/
    if build-fuzz/bin/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "${scheduling[@]}" \
        -print_final_stats=1 -artifact_prefix="$findings"/ "$corpus" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "$target: ${runs:-?} runs in ${seconds} s, no crash"
    else
        echo "$target FAILED; the end of $log:"
        tail -n 60 "$log"
        failed+=("$target")
    fi
done

if [ "${#failed[@]}" -ne 0 ]; then
    echo "Fuzzing found crashes in: ${failed[*]} (inputs in build-fuzz/findings/)"
    exit 1
fi
