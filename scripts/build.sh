#!/usr/bin/env bash
# Configures and builds PeloTest into build/ (or the folder given as $1, with extra CMake
# arguments after it). BUILD_TARGETS="a b" builds only those targets.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Paths relative to the clone, so that another clone of the same commit (CI's, a second
    # worktree) finds what this one compiled instead of compiling everything again.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "${launcher[@]}" "$@"
targets=()
for target in ${BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
cmake --build "$dir" "${targets[@]}"
