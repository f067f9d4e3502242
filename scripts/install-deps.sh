#!/usr/bin/env bash
# Installs every Debian package PeloTest needs to build, test and benchmark. Idempotent.
set -euo pipefail
packages=(
    build-essential cmake ninja-build ccache clang clang-format libclang-rt-14-dev
    libboost1.81-dev libjpeg62-turbo-dev libgif-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    g++-mingw-w64-x86-64-posix wine wine64 nsis googletest dpkg-dev
    qt6-base-dev qt6-webengine-dev qt6-translations-l10n xvfb xauth trayer imagemagick
    chromium
    wrk nginx-light php-cli python3 curl
    file lintian desktop-file-utils appstream man-db
)
# Node.js comes with the machine (with its own npm); Debian's are the fallback.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
