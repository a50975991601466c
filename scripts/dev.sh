#!/usr/bin/env bash
# Developer entry point: installs what is missing, builds, runs the tool or the tests.
#   bash scripts/dev.sh run [vorn arguments...]   build and run vorn (default: vorn list)
#   bash scripts/dev.sh test                       build and run the whole test suite,
#                                                  plainly and under ASan/UBSan
#   bash scripts/dev.sh fuzz [target...]           build the fuzz targets with clang and run each
#                                                  for $VORN_FUZZ_SECONDS (default 60) seconds
#                                                  under ASan/UBSan; fails on any finding
#                                                  (build folder: $VORN_FUZZ_BUILD_DIR, default
#                                                  build/fuzz)
#   bash scripts/dev.sh reliability                build and run the reliability tests at full
#                                                  strength (1,000 kills, 200 concurrent rounds)
#   bash scripts/dev.sh deps                       only install the Debian packages
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

packages=(cmake ninja-build g++ libxml2-dev libfmt-dev libsimpleini-dev libcli11-dev
          nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev pkg-config)

fuzz_packages=(clang libclang-rt-14-dev)

deps() {  # deps [package...]: the given packages, default the build's own
    local missing=()
    local wanted=("$@")
    [ ${#wanted[@]} -gt 0 ] || wanted=("${packages[@]}")
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}" >&2
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq >&2
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

build() {  # build <dir> [cmake options...]
    local dir="$1"; shift
    cmake -S "$here" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "${VORN_JOBS:-2}"
}

cmd="${1:-test}"
[ $# -gt 0 ] && shift
case "$cmd" in
    deps)
        deps ;;
    run)
        deps
        # stdout is the tool's alone (`run --json ...` must print a JSON document and nothing
        # else), so the build reports on stderr.
        build build/release -DCMAKE_BUILD_TYPE=Release -DVORN_BUILD_TESTS=OFF -DVORN_BUILD_BENCH=OFF >&2
        if [ $# -eq 0 ]; then set -- list; fi
        exec build/release/tools/vorn/vorn "$@" ;;
    test)
        deps
        build build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_WERROR=ON
        ctest --test-dir build/ci --output-on-failure -j "${VORN_JOBS:-2}"
        build build/ci-asan -DCMAKE_BUILD_TYPE=Debug -DVORN_WERROR=ON -DVORN_SANITIZE=ON -DVORN_BUILD_BENCH=OFF
        ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            ctest --test-dir build/ci-asan --output-on-failure -j "${VORN_JOBS:-2}"
        # A host thread using libxml2 beside the loader, and host lookups from several threads,
        # watched by ThreadSanitizer with the library itself instrumented.
        cmake -S "$here" -B build/ci-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_WERROR=ON \
            -DVORN_SANITIZE_THREAD=ON -DVORN_BUILD_BENCH=OFF -DVORN_BUILD_TOOL=OFF >/dev/null
        cmake --build build/ci-tsan -j "${VORN_JOBS:-2}" --target test_xml_documents test_host_api
        TSAN_OPTIONS=halt_on_error=1 build/ci-tsan/tests/test_xml_documents \
            --gtest_filter='*HostUsingLibxml2*'
        TSAN_OPTIONS=halt_on_error=1 build/ci-tsan/tests/test_host_api \
            --gtest_filter='*SeveralThreads*' ;;
    reliability)
        deps
        build build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_WERROR=ON
        VORN_KILLS=1000 VORN_CONCURRENT_ROUNDS=200 build/ci/tests/test_reliability_kill ;;
    fuzz)
        deps
        deps "${fuzz_packages[@]}"
        fuzz_dir="${VORN_FUZZ_BUILD_DIR:-build/fuzz}"
        build "$fuzz_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
            -DVORN_FUZZ=ON -DVORN_BUILD_TESTS=OFF -DVORN_BUILD_BENCH=OFF -DVORN_BUILD_TOOL=OFF
        VORN_FUZZ_SECONDS="${VORN_FUZZ_SECONDS:-60}" bash fuzz/run.sh "$fuzz_dir" "$@" ;;
    *)
        echo "usage: bash scripts/dev.sh {run [vorn args...]|test|reliability|fuzz [targets...]|deps}" >&2
        exit 2 ;;
esac
