#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts the program.
#
#   ./run.sh                      the window (needs a desktop, X11 or Wayland); on its first start
#                                 its fields point to a sample "HIPAX" disc under build/demo/
#   ./run.sh --demo [PACS]        without a desktop: sample discs of every PACS system under
#                                 build/demo/, one ("HIPAX" unless named) migrated by zet-pelta-cli
#   ./run.sh -- ARGUMENTS         zet-pelta-cli with your own arguments (see ./run.sh -- --help)
#   ./run.sh --help               this text
set -euo pipefail
cd "$(dirname "$0")"

usage() {
    awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
}

mode=window
pacs=HIPAX
case "${1:-}" in
    -h|--help) usage; exit 0 ;;
    --demo) mode=demo; pacs="${2:-HIPAX}" ;;
    --) mode=cli; shift ;;
    "") ;;
    *) echo "run.sh: unknown argument: $1" >&2; usage >&2; exit 2 ;;
esac

if [ "$mode" = window ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no desktop here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open." >&2
    echo "  ./run.sh --demo          migrates a sample disc with the headless program zet-pelta-cli" >&2
    echo "  ./run.sh -- --help       the headless program's options" >&2
    exit 1
fi

scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j2 --target zet-pelta zet-pelta-cli zet-pelta-make-disc

slug() { echo "$1" | tr 'A-Z ' 'a-z-'; }

# Sample discs of all four PACS systems, made afresh.
make_discs() {
    rm -rf build/demo
    mkdir -p build/demo/temp
    for system in "Arzt und Praxis" GEMED HIPAX STARC; do
        build/bench/zet-pelta-make-disc "$system" "build/demo/disc-$(slug "$system")" 24 16384 8 >/dev/null
        mkdir -p "build/demo/dest-$(slug "$system")"
    done
}

case "$mode" in
cli)
    exec build/zet-pelta-cli "$@"
    ;;
window)
    if [ ! -e build/Settings.ini ]; then
        # First start: let the window open ready to migrate a sample disc. It saves its own fields
        # from then on.
        make_discs
        demo="$(pwd)/build/demo"
        printf '[Temp]\r\nTempPath=%s\r\n[Path]\r\nSourcePath=%s\r\nDestinationPath=%s\r\n[Debug]\r\nDebugValue=0\r\n[PACS]\r\nPACS=HIPAX\r\n' \
            "$demo/temp" "$demo/disc-hipax" "$demo/dest-hipax" >build/Settings.ini
        echo "First start: the fields point to the sample discs under build/demo/ (settings: build/Settings.ini)."
    fi
    exec build/zet-pelta
    ;;
esac

make_discs
dir=$(slug "$pacs")
[ -d "build/demo/disc-$dir" ] || { echo "run.sh: unknown PACS system: $pacs" >&2; exit 2; }
echo "Sample discs: $(ls -d build/demo/disc-* | tr '\n' ' ')"
echo "Migrating build/demo/disc-$dir ($pacs) into build/demo/dest-$dir:"
echo
status=0
build/zet-pelta-cli --pacs "$pacs" --source "build/demo/disc-$dir" --dest "build/demo/dest-$dir" --temp build/demo/temp || status=$?
echo
echo "Destination build/demo/dest-$dir (exit status $status):"
(cd "build/demo/dest-$dir" && find . -type f -printf '%10s  %P\n' | sort -k2)
echo "$(find "build/demo/dest-$dir" -type f | wc -l) files. Logs, if anything failed: build/Logs/Error.txt"
