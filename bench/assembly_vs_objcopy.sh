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

# Wall time of one command in milliseconds.
wall_ms() {
    local start stop
    start=$EPOCHREALTIME
    "$@" >"$work/out"
    stop=$EPOCHREALTIME
    awk -v a="$start" -v b="$stop" 'BEGIN { printf "%.3f\n", (b - a) * 1000 }'
}

min() { sort -g | head -n 1; }

# The runs alternate between the two tools, so that both see the same load
# of the machine. Ours: the whole process (read the text, assemble, write the
# flat image) and, inside it, the assembly with checksum alone.
: >"$work/objcopy.ms"
: >"$work/process.ms"
: >"$work/ours.ms"
for _ in $(seq "$runs"); do
    wall_ms objcopy -I ihex -O binary "$image" "$work/objcopy.bin" >>"$work/objcopy.ms"
    wall_ms "$assemble" "$image" "$work/ours.bin" >>"$work/process.ms"
    summary=$(cat "$work/out")
    awk '{ print $(NF - 1) }' <<<"$summary" >>"$work/ours.ms"
done
objcopy_ms=$(min <"$work/objcopy.ms")
process_ms=$(min <"$work/process.ms")
ours_ms=$(min <"$work/ours.ms")

# objcopy's output starts at the lowest data address; ours starts at buffer
# position 0 and ends at the assembled length.
length=$(awk '{ print $2 }' <<<"$summary")
if cmp -s -n "$length" "$work/ours.bin" "$work/objcopy.bin"; then
    agreement="flat images agree over the assembled length"
else
    agreement="flat images DIFFER (an image not placed from address 0 needs its own window)"
fi

echo "image: $image ($(wc -c <"$image") characters), best of $runs runs"
echo "assembled: $(cut -d' ' -f1-4 <<<"$summary")"
printf '%-52s %9.3f ms\n' "objcopy -I ihex -O binary (whole process)" "$objcopy_ms"
printf '%-52s %9.3f ms\n' "our assembly + checksum (in process)" "$ours_ms"
printf '%-52s %9.3f ms\n' "assemble_image (whole process)" "$process_ms"
echo "$agreement"
awk -v o="$ours_ms" -v c="$objcopy_ms" -v p="$process_ms" 'BEGIN {
    printf "ratio assembly+checksum / objcopy: %.2f (goal: at most 0.50)\n", o / c
    printf "ratio whole process / objcopy:     %.2f\n", p / c
}'
