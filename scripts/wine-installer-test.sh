#!/usr/bin/env bash
# Installs the Windows installer silently under wine (/S, for this user, no administrator),
# checks what it put where, serves a page from the installed program, uninstalls silently and
# checks that nothing of the program is left.
# Usage: scripts/wine-installer-test.sh INSTALLER (WINEPREFIX set up, wine server running)
set -euo pipefail
cd "$(dirname "$0")/.."
installer=$(realpath "$1")
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
user_folder=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData | grep -v /Public/ | head -n 1)
folder=$user_folder/Local/Programs/PeloTest
menu=$user_folder/Roaming/Microsoft/Windows/Start\ Menu/Programs/PeloTest
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$wine" "$installer" /S
for file in pelotest.exe lang_en.dll Uninstall.exe; do
    [ -f "$folder/$file" ] || { echo "FAIL the installer put no $file into $folder"; exit 1; }
done
[ -f "$menu/PeloTest.lnk" ] || { echo "FAIL no Start-menu entry"; exit 1; }
echo "ok   installed for this user: $(ls "$folder" | tr '\n' ' ')"

# The installed program finds its language library beside it.
"$wine" "$folder/pelotest.exe" --list-languages --settings 'c:\nonexistent\s.ini' \
    2>/dev/null | tr -d '\r' >"$work/languages"
grep -q '^lang_en.dll' "$work/languages" || {
    cat "$work/languages"
    echo "FAIL the installed program does not offer lang_en.dll"
    exit 1
}
echo "ok   the installed program offers lang_en.dll"

# It serves a page (with a settings file outside its folder, so that it writes nothing there).
site=$WINEPREFIX/drive_c/pelotest-installed
rm -rf "$site"
mkdir -p "$site/static"
printf '<html>installed</html>' >"$site/static/index.htm"
printf '[Settings]\r\nStaticPath=c:\\pelotest-installed\\static\r\n' >"$site/pelotest.ini"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$wine" "$folder/pelotest.exe" --headless --settings 'c:\pelotest-installed\pelotest.ini' \
    --port "$port" >"$work/out" 2>&1 &
pid=$!
for _ in $(seq 1 300); do
    grep -q '^Listening on' "$work/out" && break
    sleep 0.1
done
body=$(curl -s --max-time 10 "http://127.0.0.1:$port/index.htm" || true)
kill -INT "$pid"
wait "$pid" || true
rm -rf "$site"
[ "$body" = '<html>installed</html>' ] || { cat "$work/out"; echo "FAIL the installed program served: $body"; exit 1; }
echo "ok   the installed program serves the page"

"$wine" "$folder/Uninstall.exe" /S
# The uninstaller copies itself elsewhere and removes the folder from there: wait for it.
for _ in $(seq 1 100); do
    [ -e "$folder" ] || [ -e "$menu" ] || break
    sleep 0.2
done
if [ -e "$folder" ] || [ -e "$menu" ]; then
    find "$folder" "$menu" 2>/dev/null
    echo "FAIL the uninstaller left files"
    exit 1
fi
echo "ok   uninstalled silently, nothing left"
