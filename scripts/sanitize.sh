#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ and runs
# every test there. CI runs it after ./test.sh. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DZP_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j2
# Leaks are reported for our code; the suppressions cover what Qt's and the system's libraries keep
# until the process ends.
# An allocation beyond 1 GiB at once is an error too: a length read from a file must never decide it.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:max_allocation_size_mb=1024:allocator_may_return_null=0"
export LSAN_OPTIONS="suppressions=$(pwd)/tests/sanitizer/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build-asan --output-on-failure -j2 "$@"
