#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-fuzz/ and runs each for a while, two at a time.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default 600 seconds; targets: container gzip lzw
#                                             profile_file dicom report
#   scripts/fuzz.sh merge                     the dicom target's seeds anew, from python3-pydicom's files
#
# Each run starts from the seed corpus in tests/fuzz/corpus/<target>; the dicom target's are those of
# python3-pydicom's files that add coverage, cut to 16 KiB, as "scripts/fuzz.sh merge" makes them
# again (libFuzzer's -merge); new inputs collect in build-fuzz/corpus/<target>. An input that crashes is
# written to tests/fuzz/crashes/<target>/, where the normal build replays it as a regression case once
# the fault is fixed. It ends with a table: executions, executions a second, coverage (libFuzzer's
# count of covered edges) and new crash inputs per target.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(container gzip lzw profile_file dicom report)
pydicom=/usr/lib/python3/dist-packages/pydicom/data

# Leaks of libraries outside the project are known (DCMTK's on damaged input among them); any
# other leak is a finding.
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp"

scripts/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DZP_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2

# The dicom target's seeds anew: pydicom's files and the seeds there are, kept only where they add coverage.
if [ "$seconds" = merge ]; then
    rm -rf build-fuzz/merged && mkdir -p build-fuzz/merged
    build-fuzz/tests/fuzz/fuzz_dicom -merge=1 -max_len=16384 -rss_limit_mb=2048 build-fuzz/merged \
        tests/fuzz/corpus/dicom "$pydicom" >build-fuzz/merge.log 2>&1
    rm -rf tests/fuzz/corpus/dicom && mv build-fuzz/merged tests/fuzz/corpus/dicom
    echo "tests/fuzz/corpus/dicom: $(ls tests/fuzz/corpus/dicom | wc -l) seeds"
    exit 0
fi

run_target() {
    local target=$1
    local crashes=tests/fuzz/crashes/$target
    local seeds=("tests/fuzz/corpus/$target")
    # A report is read byte by byte in several ways, and a DICOM file is judged by its elements before
    # the pixels: shorter inputs keep both above 1,000 a second, and lose no shape either has.
    local max_len=65536
    [ "$target" = report ] && max_len=4096
    [ "$target" = dicom ] && max_len=16384
    mkdir -p "build-fuzz/corpus/$target" "$crashes"
    local started=$SECONDS
    build-fuzz/tests/fuzz/fuzz_"$target" "build-fuzz/corpus/$target" "${seeds[@]}" \
        -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$crashes/" >"build-fuzz/$target.log" 2>&1 || true
    local runs found elapsed coverage
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "build-fuzz/$target.log" | grep -o '[0-9]*$' || echo 0)
    coverage=$(grep -o 'cov: [0-9]*' "build-fuzz/$target.log" | tail -1 | grep -o '[0-9]*$' || echo 0)
    found=$(find "$crashes" -type f -newer "build-fuzz/$target.started" | wc -l)
    elapsed=$((SECONDS - started))
    printf '%s %s %s %s %s\n' "$target" "$runs" "$((runs / (elapsed > 0 ? elapsed : 1)))" "$coverage" "$found" \
        >"build-fuzz/$target.result"
}

for target in "${targets[@]}"; do
    touch "build-fuzz/$target.started"
    rm -f "build-fuzz/$target.result"
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

printf '\n%-14s %12s %10s %9s %13s\n' target executions per-second coverage new-findings
for target in "${targets[@]}"; do
    read -r name runs rate coverage found <"build-fuzz/$target.result"
    printf '%-14s %12s %10s %9s %13s\n' "$name" "$runs" "$rate" "$coverage" "$found"
done
echo "(logs: build-fuzz/<target>.log; crash inputs: tests/fuzz/crashes/<target>/)"
