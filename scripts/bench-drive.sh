#!/usr/bin/env bash
# Drive-bound figures: each PACS system's sample disc read through an emulated optical drive (bench/
# DriveShim.cpp) at CD speed (8 MB/s, 80 ms a seek) and DVD speed (21 MB/s, 100 ms), by zet-pelta-cli
# and by the floor (every selected file read once, whole, in walk order). Prints a row per system and
# speed: seconds, seeks and the ratio to the floor.
#
#   scripts/bench-drive.sh [IMAGES [PIXEL_BYTES [IMAGES_PER_FOLDER]]]     default 100 262144 25
set -euo pipefail
cd "$(dirname "$0")/.."
images=${1:-100}
pixels=${2:-262144}
per_folder=${3:-25}

scripts/install-deps.sh >&2
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j2 --target zet-pelta-cli zet-pelta-make-disc zet-pelta-read-in-order zp_driveshim >&2
bin=$PWD/build-bench
work=$(mktemp -d /dev/shm/zet-pelta-drive-XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog"
cp "$bin/zet-pelta-cli" "$work/prog/"

# Runs a command under the drive; prints "seconds seeks".
through_drive() {
    local disc=$1 rate=$2 seek=$3
    shift 3
    rm -f "$work/report"
    local started ended
    started=$(date +%s.%N)
    ZP_DRIVE_ROOT=$disc ZP_DRIVE_RATE=$rate ZP_DRIVE_SEEK_MS=$seek ZP_DRIVE_REPORT=$work/report \
        LD_PRELOAD=$bin/bench/libzp_driveshim.so "$@" >/dev/null 2>&1 || true
    ended=$(date +%s.%N)
    echo "$(echo "$ended - $started" | bc) $(awk '{print $2}' "$work/report" | tail -1)"
}

printf '%-16s %-4s %8s %6s %8s %6s %7s\n' system drive floor_s seeks run_s seeks ratio
for pacs in "Arzt und Praxis" GEMED HIPAX STARC; do
    disc=$work/disc
    rm -rf "$disc"
    "$bin/bench/zet-pelta-make-disc" "$pacs" "$disc" "$images" "$pixels" "$per_folder" >/dev/null
    for speed in "CD 8000000 80" "DVD 21000000 100"; do
        read -r name rate seek <<<"$speed"
        read -r floor floor_seeks < <(through_drive "$disc" "$rate" "$seek" "$bin/bench/zet-pelta-read-in-order" "$pacs" "$disc")
        rm -rf "$work/dest" "$work/temp" "$work/prog/Logs"
        mkdir -p "$work/dest" "$work/temp"
        read -r run run_seeks < <(through_drive "$disc" "$rate" "$seek" "$work/prog/zet-pelta-cli" -q --pacs "$pacs" \
            --source "$disc" --dest "$work/dest" --temp "$work/temp")
        printf '%-16s %-4s %8.2f %6s %8.2f %6s %7.2f\n' "$pacs" "$name" "$floor" "$floor_seeks" "$run" "$run_seeks" \
            "$(echo "$run / $floor" | bc -l)"
    done
done
