#!/usr/bin/env bash
# Starts PeloTest headless on the demo site at http://localhost:8080/. The settings are copied to
# build/demo.ini first, so what the program learns and saves at exit stays out of the repository
# (delete build/demo.ini to start afresh).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/demo.ini ] || cp examples/demo.ini build/demo.ini
exec ./build/pelotest --headless --settings build/demo.ini
