#!/usr/bin/env bash
# Figures of a full update, printed, never asserted:
#  - real and CPU time of VendraFwUpgrade-sim at full speed (no pacing), the
#    best of several runs (goal: under 0.5 s of CPU);
#  - peak resident memory and CPU time of the real program over a full
#    end-to-end update of a unit-sim TX unit on a pseudo-terminal, in real
#    time, some three and a half minutes (goal: under 32 MiB). It uses the
#    device directory of the full_update_tx test: do not run both at once.
# Usage: bench/full_update.sh [BUILD_DIR] [--sim-only]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=5

cmake --build "$build" -j2 --target VendraFwUpgrade-sim VendraFwUpgrade-e2e-tx unit-sim >/dev/null

echo "== VendraFwUpgrade-sim --speed max: $runs runs"
for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %U %S %M" "$build/VendraFwUpgrade-sim" --speed max </dev/null 2>&1 >/dev/null |
        tail -n 1
done | awk '{ cpu = $2 + $3; if (NR == 1 || cpu < best) { best = cpu; real = $1; rss = $4 } }
            END { printf "best run: real %.3f s, CPU %.3f s, peak resident memory %.1f MiB\n",
                  real, best, rss / 1024 }'

if [ "${2:-}" = "--sim-only" ]; then
    exit 0
fi
echo "== VendraFwUpgrade (real program) over a pseudo-terminal, TX unit at 9600 baud"
python3 tests/e2e/full_update.py --program "$build/tests/VendraFwUpgrade-e2e-tx" \
    --unit-sim "$build/unit-sim" --dir "$build/e2e-devices-tx" \
    --images "$build/generated/sample-images" --variant tx --rate 9600 --measure
