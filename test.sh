#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ and runs every test under CTest.
# Extra arguments go to ctest, e.g. ./test.sh -R ScanFolder
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DZP_WERROR=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2 "$@"
