#!/usr/bin/env bash
# Checks that every tracked C++ source is laid out as .clang-format says, and
# shows for each file that is not the change clang-format would make.
#
#   tools/check-format.sh                        # with the clang-format on PATH
#   CLANG_FORMAT=clang-format-19 tools/check-format.sh
set -euo pipefail
cd "$(dirname "$0")/.."

format=${CLANG_FORMAT:-clang-format}
if ! command -v "$format" >/dev/null; then
    echo "$format is not installed (Debian: clang-format)"
    exit 1
fi

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
unformatted=()
for source in "${sources[@]}"; do
    if ! "$format" --dry-run --Werror "$source" 2>/dev/null; then
        diff -u --label "$source" --label "$source, formatted" "$source" <("$format" "$source") || true
        unformatted+=("$source")
    fi
done

if [ "${#unformatted[@]}" -ne 0 ]; then
    echo "Not formatted with $("$format" --version): ${unformatted[*]}"
    echo "Run: $format -i ${unformatted[*]}"
    exit 1
fi
echo "${#sources[@]} sources formatted as .clang-format says ($("$format" --version))"
