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
#   VORN_BENCH_LOAD_ROUNDS  rounds of the loads and their anchors   default: 9
set -eu
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VORN_BENCH_BUILD:-$SRC/build-perf}
export VORN_BENCH_ROOT="${VORN_BENCH_ROOT:-/tmp/vorn-bench}"
CHIPS=${VORN_CHIP_LIST:-$SRC/../shared/data/flashrom_spi_chips.csv}
REPS=${VORN_BENCH_REPS:-3}
LOAD_ROUNDS=${VORN_BENCH_LOAD_ROUNDS:-9}
OUT=$BUILD/bench-results

# No user switch or INI of the person running it may change what is measured.
CONFIG=$(mktemp -d /tmp/vorn-bench-config-XXXXXX)
trap 'rm -rf "$CONFIG"' EXIT
export XDG_CONFIG_HOME="$CONFIG" VORN_INI="$CONFIG/vorn.ini" VORN_USER_INI="$CONFIG/user.ini"
unset VORN_PROGRAMMER_DIR VORN_DEBUG || true

cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target gen_db bench_load bench_lookup bench_save bench_memory bench_flow_check
mkdir -p "$OUT"

"$BUILD/bench/gen_db" "$VORN_BENCH_ROOT" "$CHIPS" 100 1000 10000 1300:1300

run() {
    name=$1
    shift
    "$BUILD/bench/$name" --benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true \
        --benchmark_out="$OUT/$name.json" --benchmark_out_format=json "$@"
}

# Loads: every measurement in a process of its own, the anchor's too, since a programmer
# loads its database once per process (a second load in the same process finds a heap already
# grown and paged in, which flatters the small databases). LOAD_ROUNDS rounds, each running the
# anchor and the load back to back (in turn first), so that a ratio compares runs that met the
# shared machine alike; the summary takes the median of the rounds' ratios.
mkdir -p "$OUT/load"
rm -f "$OUT"/load/*.json
for r in $(seq "$LOAD_ROUNDS"); do
    order="BM_LoadAnchor BM_LoadCheckOnly BM_Load"
    [ $((r % 2)) -eq 0 ] && order="BM_Load BM_LoadCheckOnly BM_LoadAnchor"
    for n in 100 1000 10000 1300; do
        for bench in $order; do
            "$BUILD/bench/bench_load" --benchmark_filter="^$bench/$n/" --benchmark_min_time=0.001 \
                --benchmark_out="$OUT/load/${bench}_${n}_$r.json" --benchmark_out_format=json
        done
    done
done
run bench_lookup
run bench_save
run bench_flow_check
for n in 100 1000 10000 1300; do "$BUILD/bench/bench_memory" "$n"; done >"$OUT/memory.jsonl"

python3 "$SRC/bench/summarise.py" "$OUT"
