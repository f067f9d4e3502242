#!/usr/bin/env bash
# Makes the 64-bit Windows installer (CPack's NSIS generator) from the Windows build in DIR
# (default build-windows/, built first by scripts/build-windows.sh) and prints its path. The
# installer installs for the user alone, without administrator rights; /S installs and the
# uninstaller's /S uninstalls silently.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-windows}
BUILD_TARGETS="pelotest pelotest_english" ./scripts/build-windows.sh "$dir" >&2
(cd "$dir" && cpack -G NSIS -C Release >&2)
ls -t "$dir"/pelotest-*-windows-x64.exe | head -n 1 | xargs realpath
