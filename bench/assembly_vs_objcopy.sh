#!/usr/bin/env bash
# Times our assembly and checksum of an image text beside
# `objcopy -I ihex -O binary` on the same text, in the same run, and prints
# both figures and their ratio. Each figure is the best of RUNS runs.
#
# Usage: bench/assembly_vs_objcopy.sh [BUILD_DIR] [IMAGE_TEXT] [RUNS]
# Default: the build tree build/, its programmable-logic sample image, 20 runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
image=${2:-$build/generated/sample-images/K620418_TX_XC7A75_1_07.mcs}
runs=${3:-20}

command -v objcopy >/dev/null || { echo "objcopy (binutils) is not installed" >&2; exit 1; }
cmake --build "$build" --target assemble_image -j2 >/dev/null
[ -f "$image" ] || { echo "$image: no such image text" >&2; exit 1; }
assemble="$build/bench/assemble_image"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Best wall time of a command over $runs runs, in milliseconds.
best_ms() {
    local best="" start stop elapsed
    for _ in $(seq "$runs"); do
        start=$EPOCHREALTIME
        "$@" >/dev/null
        stop=$EPOCHREALTIME
        elapsed=$(awk -v a="$start" -v b="$stop" 'BEGIN { printf "%.3f", (b - a) * 1000 }')
        if [ -z "$best" ] || awk -v e="$elapsed" -v b="$best" 'BEGIN { exit !(e < b) }'; then
            best=$elapsed
        fi
    done
    echo "$best"
}

# Our figure: assembly and checksum inside the process, fresh copy each run.
summary=$("$assemble" "$image" "$work/ours.bin" "$runs")
ours_ms=$(awk '{ print $(NF - 1) }' <<<"$summary")
objcopy_ms=$(best_ms objcopy -I ihex -O binary "$image" "$work/objcopy.bin")
process_ms=$(best_ms "$assemble" "$image" "$work/ours.bin")

# objcopy's output starts at the lowest data address; ours starts at buffer
# position 0 and ends at the assembled length.
length=$(awk '{ print $2 }' <<<"$summary")
if cmp -s -n "$length" "$work/ours.bin" "$work/objcopy.bin"; then
    agreement="flat images agree over the assembled length"
else
    agreement="flat images DIFFER (an image not placed from address 0 needs its own window)"
fi

echo "image: $image ($(wc -c <"$image") characters), best of $runs runs"
echo "$summary"
printf '%-52s %9.3f ms\n' "objcopy -I ihex -O binary (whole process)" "$objcopy_ms"
printf '%-52s %9.3f ms\n' "our assembly + checksum (in process)" "$ours_ms"
printf '%-52s %9.3f ms\n' "assemble_image (whole process: read, assemble, write)" "$process_ms"
echo "$agreement"
awk -v o="$ours_ms" -v c="$objcopy_ms" -v p="$process_ms" 'BEGIN {
    printf "ratio assembly+checksum / objcopy: %.2f (goal: at most 0.50)\n", o / c
    printf "ratio whole process / objcopy:     %.2f\n", p / c
}'
