#!/usr/bin/env bash
# Takes the screenshots of the window's tabs (docs/window-general.png, -log.png, -settings.png),
# the open language box and the download and help dialogs offline (-language-box.png,
# -language-dialog.png, -help-dialog.png)
# on a copy of the demo site's settings, under a virtual X display with a notification area
# (trayer) running. Needs a built build/ (./scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/demo.ini "$work/demo.ini"
# Relative folders of the demo are relative to the repository.
# The web dialogs' browser runs without its sandbox as root (as in CI) and without a GPU.
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    trayer --edge top --align right --widthtype request --height 24 &
    tray=$!
    sleep 1
    ./build/tests/desktop_screenshots "$1" docs/window
    kill "$tray"
' screenshots "$work/demo.ini"
