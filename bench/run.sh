#!/bin/sh
# Runs every benchmark and prints the results table (markdown) for bench/RESULTS.md.
#
#   bench/run.sh            from anywhere; about ten minutes on two cores
#
# Environment (all optional):
#   VORN_BENCH_BUILD  build directory (Release)       default: <source>/build-perf
#   VORN_BENCH_ROOT   where the databases are written default: /tmp/vorn-bench
#   VORN_CHIP_LIST    flash chip list (CSV)           default: <source>/../shared/data/flashrom_spi_chips.csv
#   VORN_BENCH_REPS   repetitions of each benchmark   default: 3 (the median is reported)
set -eu
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VORN_BENCH_BUILD:-$SRC/build-perf}
export VORN_BENCH_ROOT="${VORN_BENCH_ROOT:-/tmp/vorn-bench}"
CHIPS=${VORN_CHIP_LIST:-$SRC/../shared/data/flashrom_spi_chips.csv}
REPS=${VORN_BENCH_REPS:-3}
OUT=$BUILD/bench-results

# No user switch or INI of the person running it may change what is measured.
CONFIG=$(mktemp -d /tmp/vorn-bench-config-XXXXXX)
trap 'rm -rf "$CONFIG"' EXIT
export XDG_CONFIG_HOME="$CONFIG" VORN_INI="$CONFIG/vorn.ini" VORN_USER_INI="$CONFIG/user.ini"
unset VORN_PROGRAMMER_DIR VORN_DEBUG || true

cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target gen_db bench_load bench_lookup bench_save bench_memory
mkdir -p "$OUT"

"$BUILD/bench/gen_db" "$VORN_BENCH_ROOT" "$CHIPS" 100 1000 10000

# run_as OUT PROGRAM ARGS...: PROGRAM's results go to OUT.json.
run_as() {
    out=$1
    name=$2
    shift 2
    "$BUILD/bench/$name" --benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true \
        --benchmark_out="$OUT/$out.json" --benchmark_out_format=json "$@"
}
run() { run_as "$1" "$@"; }

# The anchor runs in a process of its own, before any load: libxml2 alone on a fresh heap,
# with none of the library's set-up (the library gives libxml2 its own allocator).
run_as bench_load_anchor bench_load --benchmark_filter='BM_LoadAnchor/'
run bench_load --benchmark_filter='BM_Load/'
run bench_lookup
run bench_save
for n in 100 1000 10000; do "$BUILD/bench/bench_memory" "$n"; done >"$OUT/memory.jsonl"

python3 "$SRC/bench/summarise.py" "$OUT"
