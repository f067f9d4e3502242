#!/usr/bin/env bash
# Runs the Windows test programs of a build folder (scripts/build-windows.sh) under wine and,
# given the Linux program as second argument, serves the demo site from pelotest.exe and compares
# its answers with the Linux program's (scripts/wine-serve-test.sh), and given an installer as
# third, installs, runs and uninstalls it (scripts/wine-installer-test.sh). Everything runs in a
# wine prefix of that folder's own (DIR/wine), so that nothing of the user's own wine setup is
# used or changed. The wine server is started first and kept for the whole run, and one warm-up
# run creates the prefix: without them each test program costs several seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(cd "${1:-build-windows}" && pwd)
export WINEPREFIX=$dir/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no .NET or Gecko installer dialogs in a new prefix
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
mkdir -p "$WINEPREFIX"
wineserver -p 2>/dev/null || true # already running for this prefix: kept
trap 'wineserver -k 2>/dev/null || true' EXIT
"$wine" cmd /c exit 0 >/dev/null 2>&1 || true # the warm-up: creates the prefix

# ctest starts each test through wine (CMAKE_CROSSCOMPILING_EMULATOR).
(cd "$dir" && ctest --output-on-failure -j 1 --timeout 120)
if [ -n "${2:-}" ]; then
    scripts/wine-serve-test.sh "$dir" "$2"
fi
if [ -n "${3:-}" ]; then
    scripts/wine-installer-test.sh "$3"
fi
