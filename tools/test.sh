#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer,
# runs every test, builds the libraries, tools and tests for Windows and runs them under wine,
# then runs each fuzz target for a bounded time.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
source tools/deps.sh
kerg_install_missing

jobs="$(nproc)"
fuzz_seconds="${KERG_FUZZ_SECONDS:-60}"

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKERG_SANITIZE=ON -DKERG_BUILD_BENCH=ON
cmake --build build-test -j "$jobs"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-test && ctest --output-on-failure -j "$jobs")

tools/test-windows.sh "$root/build-test"

# The fuzz targets need clang's libFuzzer.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKERG_FUZZ=ON
cmake --build build-fuzz -j "$jobs"
for target in table index engine expression values posts import; do
    corpus="$(mktemp -d)"
    if [ "$target" = engine ]; then
        binary=build-fuzz/tests/fuzz/engine/fuzz_engine
        cp tests/fuzz/engine/corpus/* "$corpus"/
    elif [ "$target" = expression ] || [ "$target" = values ] || [ "$target" = posts ]; then
        binary=build-fuzz/tests/fuzz/engine/fuzz_$target
        cp tests/fuzz/corpus/"$target"/* "$corpus"/
    else
        binary=build-fuzz/tests/fuzz/fuzz_$target
        cp tests/fuzz/corpus/"$target"/* "$corpus"/
    fi
    echo "Fuzzing $target for ${fuzz_seconds}s"
    "$binary" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "$corpus" > "$corpus.log" 2>&1 || { tail -n 60 "$corpus.log"; exit 1; }
    tail -n 8 "$corpus.log"
    rm -rf "$corpus" "$corpus.log"
done
echo "All tests and fuzz runs passed."
