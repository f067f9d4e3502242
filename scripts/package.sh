#!/usr/bin/env bash
# Builds the Debian package of PeloTest in a build folder of its own (build-package/, or the folder
# given as $1) and prints the path of the .deb. The package is compiled and linked with the
# distribution's hardening flags (dpkg-buildflags: fortified functions, stack protector, full
# RELRO, bind now), as Debian's own packages are; the tests are not built there.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-package}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
./scripts/build.sh "$dir" -DPELOTEST_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >&2
(cd "$dir" && cpack -G DEB >&2)
deb=$(ls -t "$dir"/pelotest_*.deb | head -n 1)
realpath "$deb"
