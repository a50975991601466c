#!/usr/bin/env bash
# Runs the fuzz targets of a build for a while each and reports executions and findings.
#   fuzz/run.sh BUILD_DIR [TARGET...]
# Seconds per target: $VORN_FUZZ_SECONDS (default 60). The committed corpora under
# fuzz/corpus/ are read, never written: new inputs and crash artifacts go to
# BUILD_DIR/fuzz-work/. Exit status 1 when any target has a finding (crash, sanitizer report,
# leak, timeout, out-of-memory), 2 on usage errors.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${1:?usage: fuzz/run.sh BUILD_DIR [TARGET...]}"
shift
seconds="${VORN_FUZZ_SECONDS:-60}"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(fuzz_qspi_user_file fuzz_sdmmc_user_file fuzz_byte_list fuzz_action_property fuzz_check
             fuzz_journal)
fi

work="$build/fuzz-work"
mkdir -p "$work"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

failed=0
summary=()
for target in "${targets[@]}"; do
    binary="$build/fuzz/$target"
    if [ ! -x "$binary" ]; then
        echo "fuzz: $binary is missing; build with -DVORN_FUZZ=ON" >&2
        exit 2
    fi
    corpus="$work/corpus/$target"
    artifacts="$work/artifacts/$target/"
    rm -rf "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -print_funcs=0
          -artifact_prefix="$artifacts")
    [ -f "$here/dict/$target.dict" ] && args+=(-dict="$here/dict/$target.dict")
    case "$target" in
        fuzz_byte_list|fuzz_action_property|fuzz_journal) args+=(-max_len=256) ;;
        *) args+=(-max_len=32768) ;;
    esac
    seeds=()
    [ -d "$here/corpus/$target" ] && seeds+=("$here/corpus/$target")

    log="$work/$target.log"
    echo "== $target: ${seconds}s" >&2
    "$binary" "${args[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1
    status=$?
    execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    [ -n "$execs" ] || execs=0
    findings="$(find "$artifacts" -type f | wc -l)"
    if [ "$status" -ne 0 ] && [ "$findings" -eq 0 ]; then findings=1; fi
    if [ "$findings" -ne 0 ]; then
        failed=1
        echo "-- $target: finding; the end of $log:" >&2
        tail -n 60 "$log" >&2
        find "$artifacts" -type f -printf '   artifact: %p\n' >&2
    fi
    summary+=("$(printf '%-22s %12s executions %3s findings' "$target" "$execs" "$findings")")
done

echo "fuzz summary (${seconds}s per target):"
for line in "${summary[@]}"; do echo "  $line"; done
exit "$failed"
