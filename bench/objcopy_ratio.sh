#!/bin/sh
# The S-record reader against binutils objcopy on the same records,
# measured in the same run:
#   bench/objcopy_ratio.sh BUILD_DIR [RUNS]
# Both read the data-only maximum image, the largest image the reader takes
# (data records and S7; objcopy would turn the reserved high addresses of
# plug records into a 4 GiB binary).
# First the reader's throughput in process against objcopy per process;
# then whole processes as a user runs them, taking turns: `varnel-cli image
# info` of the image against `objcopy -I srec -O binary` of it (the goal:
# at most as long), and `varnel-cli --version` against `objcopy --version`,
# the cost of starting alone. CPU time (user + system) is the measure: the
# elapsed time, printed beside it, swings with the machine's other load.
# Goal: image info at most as long as objcopy.
set -eu
build=${1:-build}
runs=${2:-30}
bench="$build/bench/image_bench"
processes="$build/bench/process_time"
cli="$build/cli/varnel-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" --write-data-only "$work/max.hex"
bytes=$(stat -c %s "$work/max.hex")

# The reader: Google Benchmark's bytes per second.
VARNEL_BENCH_FILE="$work/max.hex" "$bench" --benchmark_filter=BM_LoadDataOnlyMaximumImage \
    --benchmark_min_time=1 --benchmark_format=json >"$work/varnel.json"
varnel=$(sed -n 's/.*"bytes_per_second": *\([0-9.e+]*\).*/\1/p' "$work/varnel.json" | head -n 1)

# objcopy: the best of RUNS whole runs.
best=""
i=0
while [ "$i" -lt "$runs" ]; do
    start=$(date +%s%N)
    objcopy -I srec -O binary "$work/max.hex" "$work/max.bin"
    end=$(date +%s%N)
    t=$((end - start))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
    i=$((i + 1))
done

awk -v bytes="$bytes" -v varnel="$varnel" -v ns="$best" 'BEGIN {
    objcopy = bytes / (ns / 1e9)
    printf "record text:       %d bytes\n", bytes
    printf "varnel reader:     %.1f MB/s\n", varnel / 1e6
    printf "objcopy (best of runs): %.1f MB/s\n", objcopy / 1e6
    printf "ratio:             %.2f x objcopy\n", varnel / objcopy
}'

# Whole processes, RUNS * 10 runs of each: the median CPU time, the least
# elapsed time.
times=$("$processes" $((runs * 10)) -- "$cli" image info "$work/max.hex" \
    -- objcopy -I srec -O binary "$work/max.hex" "$work/max.bin" \
    -- "$cli" --version -- objcopy --version)
# shellcheck disable=SC2086
set -- $times
awk -v ic="$1" -v iw="$2" -v oc="$3" -v ow="$4" -v vc="$5" -v vw="$6" -v ovc="$7" -v ovw="$8" 'BEGIN {
    printf "whole processes, median CPU (least elapsed) in ms:\n"
    printf "  varnel-cli image info:        %.2f (%.2f)\n", ic / 1000, iw / 1000
    printf "  objcopy -I srec -O binary:    %.2f (%.2f)\n", oc / 1000, ow / 1000
    printf "  image info / objcopy:         %.2f CPU (goal: at most 1.00), %.2f elapsed\n", ic / oc, iw / ow
    printf "  varnel-cli --version:         %.2f (%.2f)\n", vc / 1000, vw / 1000
    printf "  objcopy --version:            %.2f (%.2f)\n", ovc / 1000, ovw / 1000
    printf "  --version / objcopy:          %.2f CPU, %.2f elapsed\n", vc / ovc, vw / ovw
}'
