#!/usr/bin/env bash
# Builds the programs as run.sh does (optimised, with debug information) into build-bench/ and runs
# the benchmark, which prints a table of every figure next to the floor it is measured against.
# Arguments go to zet-pelta-bench, e.g.
#   scripts/bench.sh --only compressed --rounds 7
#   scripts/bench.sh --quick 1            # every tree a tenth as large, to try it out
#   scripts/bench.sh --only drive         # the four systems through an emulated CD and DVD drive
#   scripts/bench.sh --only durable       # destination on the disk against tmpfs (--disk PARENT, default /var/tmp)
#   scripts/bench.sh --only send          # sending into a loopback Orthanc next to dcmsend (bench/send_bench.py)
# The full run needs about 20 GB in /dev/shm (or --dir FOLDER) and takes about 50 minutes (the send
# rows about 4 minutes a round, most of it dcmsend's).
set -euo pipefail
cd "$(dirname "$0")/.."

# libdeflate-tools for the floor it is measured against; xvfb is not needed (Qt's offscreen platform).
scripts/install-deps.sh libdeflate-tools openssl
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
# the table alone on standard output
cmake --build build-bench -j2 --target zet-pelta-bench zet-pelta-cli zet-pelta-make-disc >&2

# "send" is its own program; the other sections are zet-pelta-bench's.
args=("$@") sections="plain,compressed,durable,scale,window,drive,send" send=()
for ((i = 0; i < ${#args[@]}; i++)); do
    case "${args[i]}" in
    --only) sections="${args[i + 1]}"; args[i + 1]="" ;;
    --dir) send+=(--dir "${args[i + 1]}") ;;
    --rounds) send+=(--rounds "${args[i + 1]}") ;;
    esac
done
rest=() ; for a in "${args[@]}"; do [ "$a" = --only ] || [ -z "$a" ] || rest+=("$a"); done
others=$(tr ',' '\n' <<<"$sections" | grep -vx send | paste -sd, -) || true
if [ -n "$others" ]; then
    build-bench/bench/zet-pelta-bench --only "$others" "${rest[@]}"
fi
if tr ',' '\n' <<<"$sections" | grep -qx send; then
    python3 bench/send_bench.py build-bench/zet-pelta-cli build-bench/bench/zet-pelta-make-disc "${send[@]}"
fi
