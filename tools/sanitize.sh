#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ and runs the whole test suite there; any sanitizer report fails the
# run, also one from a simulator that a test started.
set -euo pipefail
cd "$(dirname "$0")/.."

# clang rather than gcc: with gcc's separate runtimes UndefinedBehaviorSanitizer
# ignores log_path next to AddressSanitizer, and its reports could not be collected.
# The asan preset in CMakePresets.json says so.
cmake --preset asan >/dev/null
cmake --build build-asan -j"$(nproc)"

# Reports go to files, shown at the end: the tests keep the simulator's stderr
# to themselves, so a report from it would otherwise pass unseen.
reports=$PWD/build-asan/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$reports/asan"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"

status=0
ctest --test-dir build-asan --output-on-failure -j2 || status=$?

if compgen -G "$reports/*" >/dev/null; then
    for report in "$reports"/*; do
        echo "== $report"
        cat "$report"
    done
    echo "Sanitizer reports above (kept in $reports)"
    status=1
fi
exit "$status"
