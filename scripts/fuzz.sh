#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-fuzz/ and runs each for a while, two at a time.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default 600 seconds; targets: container gzip lzw profile_file
#
# Each run starts from the seed corpus in tests/fuzz/corpus/<target>; new inputs collect in
# build-fuzz/corpus/<target>. An input that crashes is written to tests/fuzz/crashes/<target>/, where
# the normal build replays it as a regression case once the fault is fixed. The last lines give each
# target's executions and findings.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(container gzip lzw profile_file)

scripts/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DZP_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2

run_target() {
    local target=$1
    local crashes=tests/fuzz/crashes/$target
    mkdir -p "build-fuzz/corpus/$target" "$crashes"
    local started=$SECONDS
    build-fuzz/tests/fuzz/fuzz_"$target" "build-fuzz/corpus/$target" "tests/fuzz/corpus/$target" \
        -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$crashes/" >"build-fuzz/$target.log" 2>&1 || true
    local runs found
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "build-fuzz/$target.log" | grep -o '[0-9]*$' || echo 0)
    found=$(find "$crashes" -type f -newer "build-fuzz/$target.started" | wc -l)
    echo "$target: $runs executions in $((SECONDS - started)) s, $found new crash input(s) (log: build-fuzz/$target.log)"
}

for target in "${targets[@]}"; do
    touch "build-fuzz/$target.started"
done
running=0
for target in "${targets[@]}"; do
    run_target "$target" &
    running=$((running + 1))
    if [ "$running" -ge 2 ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait
