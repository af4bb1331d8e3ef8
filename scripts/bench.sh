#!/usr/bin/env bash
# Builds the programs as run.sh does (optimised, with debug information) into build-bench/ and runs
# the benchmark, which prints a table of every figure next to the floor it is measured against.
# Arguments go to zet-pelta-bench, e.g.
#   scripts/bench.sh --only compressed --rounds 7
#   scripts/bench.sh --quick 1            # every tree a tenth as large, to try it out
#   scripts/bench.sh --only drive         # the four systems through an emulated CD and DVD drive
# The full run needs about 20 GB in /dev/shm (or --dir FOLDER) and takes about 35 minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

# libdeflate-tools for the floor it is measured against; xvfb is not needed (Qt's offscreen platform).
scripts/install-deps.sh libdeflate-tools openssl
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j2 --target zet-pelta-bench >&2 # the table alone on standard output
exec build-bench/bench/zet-pelta-bench "$@"
