#!/usr/bin/env bash
# Builds the Debian package of PeloTest from the build folder (build/, or the folder given as $1;
# it is configured and built first when needed) and prints the path of the .deb.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
./scripts/build.sh "$dir" >&2
(cd "$dir" && cpack -G DEB >&2)
deb=$(ls -t "$dir"/pelotest_*.deb | head -n 1)
realpath "$deb"
