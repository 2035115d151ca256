#!/bin/sh
# Throughput of the S-record reader against binutils objcopy on the same
# records, measured in the same run:
#   bench/objcopy_ratio.sh BUILD_DIR [RUNS]
# Both read the data-only maximum image (data records and S7; objcopy would
# turn the reserved high addresses of plug records into a 4 GiB binary).
# objcopy is timed per process, as a user runs it; the reader in process.
set -eu
build=${1:-build}
runs=${2:-30}
bench="$build/bench/image_bench"
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
