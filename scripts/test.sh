#!/usr/bin/env bash
# Builds and runs every test: the unit and HTTP tests, the Debian package's test, the same under
# AddressSanitizer and UndefinedBehaviorSanitizer, the server and load tests and the window's views
# under ThreadSanitizer, a short run of each fuzzer, and the browser tests.
# Set QUICK=1 to run only the plain build's tests.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== build and unit/HTTP tests"
./scripts/build.sh build
(cd build && ctest --output-on-failure -j "$jobs")

[ "${QUICK:-0}" = 1 ] && exit 0

echo "== clang-format"
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || true)
if [ -n "$files" ]; then
    clang-format --dry-run --Werror $files
fi

echo "== include check (folders include one way only)"
bash scripts/check-includes.sh

echo "== Debian package (built hardened in build-package/, checked unpacked into a scratch folder)"
tests/package/test-package.sh "$(./scripts/package.sh)"

echo "== the server alone: no Qt, no mingw-w64 (builds pelotest and test_server only, to save time)"
BUILD_TARGETS="pelotest test_server" ./scripts/build.sh build-nodesk -DPELOTEST_DESKTOP=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON -DPELOTEST_LANGUAGE_LIBRARIES=OFF
status=0
build-nodesk/pelotest 2>/dev/null || status=$?
[ "$status" = 2 ] || { echo "pelotest without the window exited $status, expected 2"; exit 1; }
build-nodesk/tests/test_server --gtest_filter='Headless.*:Listener.*' --gtest_brief=1

echo "== benchmark harness (quick run: checks the answers, judges no speed)"
bench/run --quick --no-build --bin build/pelotest

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_TYPE=Debug ./scripts/build.sh build-asan -DPELOTEST_SANITIZE=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs")

echo "== server and load tests under ThreadSanitizer"
# The headless tests run the program itself, so it is built with the sanitizer too. The load
# test sends fewer requests than its default: under the sanitizer each costs many times more.
BUILD_TYPE=Debug BUILD_TARGETS="test_server pelotest" ./scripts/build.sh build-tsan -DPELOTEST_TSAN=ON
# The signal-during-load test runs in the two builds above only: under ThreadSanitizer its
# runtime's own background thread exists before main() and does not block SIGTERM, so the signal
# can end the process there before the program's handling sees it (the plain program has one
# thread at that point).
TSAN_OPTIONS=halt_on_error=1 PELOTEST_LOAD_REQUESTS=20000 build-tsan/tests/test_server \
    --gtest_filter=-Headless.SigtermWhileLoadingEndsCleanlyAndKeepsTheFile

echo "== the window's views under ThreadSanitizer"
# Requests while the window sorts, edits, deletes, assigns and clears, on Qt's offscreen platform.
# Only this test program is built with the sanitizer; Qt itself is not, and the suppressions
# leave out its own hand-overs between threads (each entry says why).
BUILD_TYPE=Debug BUILD_TARGETS="test_desktop_views" ./scripts/build.sh build-tsan -DPELOTEST_TSAN=ON
QT_QPA_PLATFORM=offscreen \
    TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/desktop/tsan-qt.supp" \
    build-tsan/tests/test_desktop_views

if [ -d fuzz ] && ls fuzz/*.cpp >/dev/null 2>&1; then
    echo "== fuzzers (short runs)"
    CXX=clang++ BUILD_TYPE=Debug ./scripts/build.sh build-fuzz -DPELOTEST_FUZZ=ON -DPELOTEST_TESTS=OFF
    for f in build-fuzz/fuzz/fuzz_*; do
        [ -x "$f" ] || continue
        name=$(basename "$f")
        seeds=fuzz/corpus/${name#fuzz_}
        echo "-- $name"
        # Every input this fuzzer ever failed on runs once first: a fault that comes back fails
        # here, whatever the timed run happens to find.
        if [ -d "$seeds/regressions" ]; then
            mapfile -t inputs < <(find "$seeds/regressions" -type f ! -name README)
            if [ ${#inputs[@]} -gt 0 ]; then
                if ! out=$("$f" -rss_limit_mb=2048 "${inputs[@]}" 2>&1); then
                    echo "$out" | tail -n 30
                    echo "$name fails again on a regression input"
                    exit 1
                fi
                echo "${#inputs[@]} regression input(s) pass"
            fi
        fi
        # The committed seeds stay as they are; what a run finds goes to a scratch copy.
        corpus=$(mktemp -d)
        [ -d "$seeds" ] && cp -r "$seeds/." "$corpus/"
        find "$corpus" -name README -delete
        "$f" -max_total_time="${FUZZ_SECONDS:-30}" -rss_limit_mb=2048 "$corpus" 2>&1 | tail -n 2
        rm -rf "$corpus"
    done
fi

echo "== Windows build (mingw-w64) and its tests under wine"
# pelotest.exe, the English language library and the platform layer's contract test only (the
# other test programs run on Linux; docs/windows.md). The tests run in a wine prefix of the build
# folder's own, with the wine server started first and one warm-up run, so that each test program
# starts in well under a second instead of creating the prefix again; then pelotest.exe serves the
# demo site configured with c:\ folders and its answers are compared with build/pelotest's.
windows_start=$SECONDS
BUILD_TARGETS="pelotest pelotest_english test_platform" ./scripts/build-windows.sh build-windows
installer=$(./scripts/package-windows.sh build-windows)
scripts/wine-tests.sh build-windows build/pelotest "$installer"
echo "Windows part: $((SECONDS - windows_start)) s"

if [ -f e2e/package.json ]; then
    echo "== browser tests"
    (cd e2e && npm ci --no-audit --no-fund && PELOTEST_BIN="$PWD/../build/pelotest" npm test)
fi
echo "== all tests passed"
