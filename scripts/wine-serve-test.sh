#!/usr/bin/env bash
# Serves the demo site from pelotest.exe under wine, configured as a Windows user
# configures it (c:\ folders in the settings file, CR LF lines), and compares its answers with
# the Linux program's for the same site, byte for byte. Then checks that names Windows resolves in
# its own way get the not-found page at once, and that Ctrl+C (SIGINT, which wine turns into
# Ctrl+C; SIGTERM would end wine without the console handler) saves and exits 0.
# Usage: scripts/wine-serve-test.sh WINDOWS_BUILD_DIR LINUX_PROGRAM
# Expects WINEPREFIX set up and the wine server running (scripts/wine-tests.sh does both).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(cd "$1" && pwd)
linux_program=$2
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
work=$(mktemp -d)
windows_site=$WINEPREFIX/drive_c/pelotest-demo
rm -rf "$windows_site"
mkdir -p "$windows_site" "$work/linux"
cp -r examples/demo/static examples/demo/templates "$windows_site/"
cp -r examples/demo/static examples/demo/templates "$work/linux/"
server_pids=()
cleanup() {
    for pid in "${server_pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
    rm -rf "$work" "$windows_site"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# The same settings, once with Windows folders and CR LF, once with Linux folders.
settings() { # static-folder template-folder
    printf '[Settings]\r\nStaticPath=%s\r\nStaticSite=index.htm\r\nVirtualPath=app\r\nDynamicPath=%s\r\nSaveLog=0\r\n' "$1" "$2"
    sed -n '/^\[Tree\]/,$p' examples/demo.ini | sed 's/$/\r/'
}
settings 'c:\pelotest-demo\static' 'c:\pelotest-demo\templates' >"$windows_site/pelotest.ini"
settings "$work/linux/static" "$work/linux/templates" >"$work/linux/pelotest.ini"

start() { # name output command...
    local name=$1 out=$2
    shift 2
    "$@" >"$out" 2>&1 &
    server_pids+=($!)
    for _ in $(seq 1 300); do
        grep -q '^Listening on' "$out" && return 0
        kill -0 "${server_pids[-1]}" 2>/dev/null || { cat "$out"; echo "$name did not start"; exit 1; }
        sleep 0.1
    done
    cat "$out"
    echo "$name did not start within 30 s"
    exit 1
}
windows_port=$(free_port)
start "pelotest.exe" "$work/windows.out" "$wine" "$dir/pelotest.exe" --headless \
    --settings 'c:\pelotest-demo\pelotest.ini' --port "$windows_port"
windows_pid=${server_pids[-1]}
linux_port=$(free_port)
start "pelotest" "$work/linux.out" "$linux_program" --headless \
    --settings "$work/linux/pelotest.ini" --port "$linux_port"

fetch() { # port path file -> status
    curl -s --max-time 10 -o "$3" -w '%{http_code}' "http://127.0.0.1:$1$2"
}
failures=0
# Pages that name no folder of the machine: the same bytes from both programs.
for path in / /index.htm /style.css /logo.svg /app/start.htm /app/welcome.htm /app/list.htm \
    '/$int/styles.css' '/$int/warning.jpg' '/$int/error.jpg'; do
    w=$(fetch "$windows_port" "$path" "$work/w.body")
    l=$(fetch "$linux_port" "$path" "$work/l.body")
    if [ "$w" != "$l" ] || ! cmp -s "$work/w.body" "$work/l.body"; then
        echo "FAIL $path: Windows $w, Linux $l, bodies differ:"
        diff <(od -c "$work/l.body" | head -20) <(od -c "$work/w.body" | head -20) || true
        failures=$((failures + 1))
    else
        echo "ok   $path ($w, $(wc -c <"$work/w.body") bytes, identical)"
    fi
done
# Names Windows resolves in its own way: answered at once as a page that does not exist (the
# same status and page as a plain missing name, the name itself aside), never with the file that
# Windows would open for them.
missing_status=$(fetch "$windows_port" /missing-page.htm "$work/missing.body")
sed 's/missing-page\.htm//g' "$work/missing.body" >"$work/missing.page"
for path in /CON /con.htm /NUL /COM1.txt /index.htm. '/index.htm%20' '/index.htm::$DATA' \
    '/index.htm:x' '/%5C%5C.%5Cindex.htm' '/..%5Cpelotest.ini'; do
    start_ms=$(date +%s%3N)
    w=$(fetch "$windows_port" "$path" "$work/w.body" || true)
    took=$(($(date +%s%3N) - start_ms))
    if [ "$w" != "$missing_status" ] || [ "$took" -gt 1000 ] || cmp -s "$work/w.body" \
        "$windows_site/static/index.htm" || grep -q 'StaticPath' "$work/w.body"; then
        echo "FAIL $path: $w after $took ms (expected the answer for a missing page, $missing_status)"
        failures=$((failures + 1))
    else
        echo "ok   $path ($w as a missing page, $took ms)"
    fi
done

# Ctrl+C: the state is saved and the program exits 0.
kill -INT "$windows_pid"
status=0
wait "$windows_pid" || status=$?
server_pids=("${server_pids[@]:1}")
if [ "$status" != 0 ]; then
    cat "$work/windows.out"
    echo "FAIL pelotest.exe exited $status after Ctrl+C"
    failures=$((failures + 1))
else
    echo "ok   Ctrl+C: pelotest.exe exited 0"
fi
[ "$failures" = 0 ] || { echo "$failures failure(s) serving under wine"; exit 1; }
echo "pelotest.exe under wine serves the site as the Linux program does"
