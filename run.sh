#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts the program.
#
#   ./run.sh                      demo: sample discs of every PACS system under build/demo/, one migrated
#   ./run.sh --demo "Arzt und Praxis"   the demo with another PACS system's disc
#   ./run.sh -- ARGUMENTS         zet-pelta-cli with your own arguments (see ./run.sh -- --help)
#   ./run.sh --help               this text
set -euo pipefail
cd "$(dirname "$0")"

usage() {
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
}

mode=demo
pacs=HIPAX
case "${1:-}" in
    -h|--help) usage; exit 0 ;;
    --demo) pacs="${2:?--demo needs a PACS system: "Arzt und Praxis", GEMED, HIPAX or STARC}" ;;
    --) mode=cli; shift ;;
    "") ;;
    *) echo "run.sh: unknown argument: $1" >&2; usage >&2; exit 2 ;;
esac

scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j2 --target zet-pelta-cli zet-pelta-make-disc

if [ "$mode" = cli ]; then
    exec build/zet-pelta-cli "$@"
fi

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo/temp"
for system in "Arzt und Praxis" GEMED HIPAX STARC; do
    slug=$(echo "$system" | tr 'A-Z ' 'a-z-')
    build/bench/zet-pelta-make-disc "$system" "$demo/disc-$slug" 24 16384 8 >/dev/null
done
slug=$(echo "$pacs" | tr 'A-Z ' 'a-z-')
[ -d "$demo/disc-$slug" ] || { echo "run.sh: unknown PACS system: $pacs" >&2; exit 2; }
mkdir -p "$demo/dest-$slug"

echo "Sample discs: $(ls -d "$demo"/disc-* | tr '\n' ' ')"
echo "Migrating $demo/disc-$slug ($pacs) into $demo/dest-$slug:"
echo
status=0
build/zet-pelta-cli --pacs "$pacs" --source "$demo/disc-$slug" --dest "$demo/dest-$slug" --temp "$demo/temp" || status=$?
echo
echo "Destination $demo/dest-$slug (exit status $status):"
(cd "$demo/dest-$slug" && find . -type f -printf '%10s  %P\n' | sort -k2)
echo "$(find "$demo/dest-$slug" -type f | wc -l) files. Logs, if anything failed: build/Logs/Error.txt"
