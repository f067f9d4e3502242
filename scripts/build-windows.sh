#!/usr/bin/env bash
# Cross-builds pelotest for Windows with mingw-w64 into DIR (default build-windows/):
# DIR/pelotest.exe (the command line and the headless server: all but the window),
# DIR/lang_en.dll and the Windows test programs (DIR/tests/). Extra CMake arguments follow DIR;
# BUILD_TARGETS="a b" builds only those targets.
#
# What Debian has for Linux only is built here for Windows, once per build folder, from Debian's
# own sources: googletest from /usr/src/googletest (package googletest), libjpeg-turbo (the
# message icons of the pages) from its Debian source package, fetched with apt-get source
# through a private copy of the machine's package sources so that the machine's apt setup stays as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
dir=${1:-build-windows}
shift || true
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
third=$dir/third-party
mkdir -p "$third"
prefix=$third/prefix
toolchain=$source_dir/cmake/mingw-w64.cmake
jobs=$(nproc)
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    # Paths relative to the clone, as scripts/build.sh does: another clone reuses the objects.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
fi

if [ ! -f "$prefix/lib/libgtest.a" ]; then
    echo "-- googletest for Windows (from /usr/src/googletest)"
    cmake -S /usr/src/googletest -B "$third/googletest" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -Dgtest_disable_pthreads=OFF "${launcher[@]}" >"$third/googletest.log"
    cmake --build "$third/googletest" --target install >>"$third/googletest.log"
fi

if [ ! -f "$prefix/lib/libjpeg.a" ]; then
    echo "-- libjpeg-turbo for Windows (from Debian's source package)"
    apt_dir=$third/apt
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/sources" "$third/jpeg-source"
    # The machine's own Debian package sources (those signed by Debian's archive key), asked for
    # source packages instead.
    for sources in /etc/apt/sources.list.d/*.sources; do
        grep -q debian-archive-keyring "$sources" 2>/dev/null || continue
        sed 's/^Types:.*/Types: deb-src/' "$sources" >"$apt_dir/sources/$(basename "$sources")"
    done
    for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$list" ] || continue
        sed -n 's/^deb \(.*\/debian\(-security\)\? \)/deb-src \1/p' "$list" >"$apt_dir/sources/$(basename "$list")"
    done
    apt_options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources"
        -o "Dir::State::Lists=$apt_dir/lists" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
    apt-get "${apt_options[@]}" update >"$third/jpeg.log" 2>&1
    (cd "$third/jpeg-source" && apt-get "${apt_options[@]}" source --download-only libjpeg-turbo \
        >>"$third/jpeg.log" 2>&1)
    rm -rf "$third/jpeg-source/tree"
    dpkg-source --no-check -x "$third"/jpeg-source/libjpeg-turbo_*.dsc "$third/jpeg-source/tree" \
        >>"$third/jpeg.log" 2>&1
    # Plain C without SIMD: the icons are 32x32 pixels, and no assembler is needed.
    cmake -S "$third/jpeg-source/tree" -B "$third/jpeg" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" -DWITH_SIMD=OFF \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DCMAKE_POLICY_DEFAULT_CMP0063=NEW \
        "${launcher[@]}" >>"$third/jpeg.log"
    cmake --build "$third/jpeg" --target install >>"$third/jpeg.log"
fi

# Boost is header-only for this program: Debian's headers serve every target.
mkdir -p "$prefix/include"
[ -e "$prefix/include/boost" ] || ln -s /usr/include/boost "$prefix/include/boost"

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Release} \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DPELOTEST_WINDOWS_PREFIX="$prefix" \
    -DPELOTEST_DESKTOP=OFF -DPELOTEST_BENCH=OFF "${launcher[@]}" "$@"
targets=()
for target in ${BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
cmake --build "$dir" -j "$jobs" "${targets[@]}"
