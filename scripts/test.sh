#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds everything and runs every test: a normal build, then the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, the renderer's threads and the map item
# on QtQuick's threaded render loop under ThreadSanitizer, then each fuzz target for a while.
#   scripts/test.sh            all of it
#   scripts/test.sh --quick    the normal build only
set -euo pipefail
cd "$(dirname "$0")/.."

QUICK=0
[ "${1:-}" = "--quick" ] && QUICK=1
FUZZ_SECONDS=${NAVORA_FUZZ_SECONDS:-30}
JOBS=$(nproc)

bash scripts/setup.sh

# Let ccache reuse objects across checkouts in different folders (CI clones afresh).
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1

# Tests start the program offscreen with private data directories; they need no display.
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

run_suite() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$JOBS"
    ctest --test-dir "$dir" -j "$JOBS" --output-on-failure
}

echo "== normal build =="
run_suite build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo

if [ "$QUICK" = 1 ]; then exit 0; fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DNAVORA_SANITIZE=ON -DNAVORA_BUILD_BENCH=OFF

echo "== ThreadSanitizer: the renderer's worker threads and the map item's threaded painting =="
# The thread checks are on in this build: a GUI-thread function called elsewhere stops it.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNAVORA_TSAN=ON \
    -DNAVORA_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS=-DNAVORA_THREAD_CHECKS=1
cmake --build build/tsan -j "$JOBS" --target core_tests charts_tests maplib_tests maplib_quick_tests
# Qt is not instrumented: its own allocations and queues (which it guards with futexes the
# sanitizer cannot see) are left out; every access made by our code is still checked.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1}
build/tsan/tests/core/core_tests --gtest_filter='ThreadCheck.*:WorkerThread.*'
build/tsan/tests/charts/charts_tests --gtest_filter='*CachedChart*:*PartialChart*:SlicedFile.*:ReadRect.*'
build/tsan/tests/maplib/maplib_tests --gtest_filter='RenderView.*:ChartViewCharts.*'
# The map item with QtQuick's threaded render loop: paint() runs on the scene graph's
# thread, with an OpenGL context from Mesa's software rasteriser on a virtual X screen.
QT_QPA_PLATFORM=xcb QSG_RENDER_LOOP=threaded LIBGL_ALWAYS_SOFTWARE=1 \
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    build/tsan/tests/maplib/quick/maplib_quick_tests --gtest_filter='MapInput.*:MapItemFixture.*'

if ls fuzz/fuzz_*.cpp >/dev/null 2>&1 && command -v clang++ >/dev/null; then
    echo "== fuzzing (${FUZZ_SECONDS} s per target) =="
    CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNAVORA_FUZZ=ON \
        -DNAVORA_BUILD_TESTS=OFF -DNAVORA_BUILD_BENCH=OFF -DNAVORA_BUILD_APP=OFF
    cmake --build build/fuzz -j "$JOBS"
    for f in build/fuzz/fuzz/fuzz_*; do
        [ -f "$f" ] && [ -x "$f" ] || continue
        name=$(basename "$f")
        corpus="build/fuzz/corpus/$name"
        mkdir -p "$corpus"
        seeds=()
        [ -d "tests/data/fuzz/$name" ] && seeds=("tests/data/fuzz/$name")
        echo "-- $name"
        "$f" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            "$corpus" "${seeds[@]}" 2>&1 | tail -n 12
    done
fi
echo "All test suites passed."
