#!/usr/bin/env bash
# Opens PeloTest's window on the demo site (server at http://localhost:8080/ once started from its
# button); with --headless it serves the demo without a window. The settings are copied to
# build/demo.ini first, so what the program learns and saves at exit stays out of the repository
# (delete build/demo.ini to start afresh).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/demo.ini ] || cp examples/demo.ini build/demo.ini
exec ./build/pelotest "$@" --settings build/demo.ini
