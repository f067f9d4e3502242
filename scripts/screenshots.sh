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
# A free port, so that a demo already running on 8080 does not matter.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -i "s/^Port=.*/Port=$port/" "$work/demo.ini"
# What a browser walking through the shop sends: the start page, the entry template, a login,
# the list, two items, the cart, an event without a template, and a page that is not there.
cat > "$work/requests.sh" <<'REQUESTS'
#!/usr/bin/env bash
set -euo pipefail
base=http://127.0.0.1:$PORT
get() { curl -sf -o /dev/null "$base$1" || [ "$2" = "404" ]; }
get / 200
get /index.htm 200
get /app/ 200
get "/app/?PELO_EVENT=Login&User=Anna" 200
get "/app/?PELO_EVENT=ShowList" 200
get "/app/?PELO_EVENT=ShowItem&item=1" 200
get "/app/?PELO_EVENT=ShowItem&item=2" 200
get "/app/?PELO_EVENT=AddToCart&item=2&qty=3" 200
get "/app/?PELO_EVENT=Help" 200
get /missing.htm 404
REQUESTS
chmod +x "$work/requests.sh"
# Relative folders of the demo are relative to the repository.
# The web dialogs' browser runs without its sandbox as root (as in CI) and without a GPU.
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    trayer --edge top --align right --widthtype request --height 24 &
    tray=$!
    sleep 1
    ./build/tests/desktop_screenshots "$1" docs/window "$2"
    kill "$tray"
' screenshots "$work/demo.ini" "$work/requests.sh"
