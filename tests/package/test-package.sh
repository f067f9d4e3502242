#!/usr/bin/env bash
# Checks the Debian package: unpacked into a scratch root, every file lies where the desktop and
# the shell look for it, the desktop entry, metainfo and manual page are valid, lintian finds no
# error, and the installed program serves the demo site headless and keeps its settings in the
# user's configuration folder, never beside its executable.
# Usage: tests/package/test-package.sh PACKAGE.deb   (scripts/package.sh prints the path)
set -euo pipefail
deb=$(realpath "${1:?usage: test-package.sh PACKAGE.deb}")
cd "$(dirname "$0")/../.."
work=$(mktemp -d)
server=
cleanup() {
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "package test: $*" >&2
    exit 1
}

root=$work/root
dpkg-deb -x "$deb" "$root"

for file in usr/bin/pelotest usr/libexec/pelotest/pelotest-window \
    usr/share/pelotest/languages/lang_en.dll \
    usr/share/applications/pelotest.desktop usr/share/metainfo/example.dunmere.PeloTest.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/pelotest.svg usr/share/man/man1/pelotest.1.gz \
    usr/share/bash-completion/completions/pelotest usr/share/doc/pelotest/copyright; do
    [ -f "$root/$file" ] || fail "/$file is not in the package"
done
# Each PNG icon is as large as the folder it lies in says.
for size in 16 22 24 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/pelotest.png
    [ -f "$icon" ] || fail "no ${size}x${size} icon"
    actual=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$icon")
    [ "$actual" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $actual"
done
# The entry names the icon and the program that the package installs.
entry=$root/usr/share/applications/pelotest.desktop
grep -qx 'Icon=pelotest' "$entry" || fail "the desktop entry does not name the icon pelotest"
grep -qx 'Exec=pelotest' "$entry" || fail "the desktop entry does not start pelotest"

desktop-file-validate "$entry" || fail "the desktop entry is not valid"
appstreamcli validate --no-net "$root/usr/share/metainfo/example.dunmere.PeloTest.metainfo.xml" ||
    fail "the metainfo is not valid"
warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/pelotest.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page has warnings: $warnings"
lintian --fail-on error "$deb"
# Built with the distribution's hardening flags: lintian names none missing, and the programs
# carry them (full RELRO and bind now, fortified functions, the stack protector).
hardening=$(lintian --tags hardening-no-relro,hardening-no-bindnow,hardening-no-fortify-functions,hardening-no-pie "$deb" || true)
[ -z "$hardening" ] || fail "built without hardening: $hardening"
for program in usr/bin/pelotest usr/libexec/pelotest/pelotest-window; do
    readelf -lW "$root/$program" | grep -q GNU_RELRO || fail "/$program has no RELRO"
    readelf -dW "$root/$program" | grep -q 'FLAGS.*BIND_NOW' || fail "/$program is not bound now"
    symbols=$(readelf --dyn-syms -W "$root/$program")
    grep -q '__stack_chk_fail' <<<"$symbols" || fail "/$program has no stack protector"
    grep -qE '__[a-z]+_chk@' <<<"$symbols" || fail "/$program uses no fortified functions"
done
tests/package/test-completion.sh "$root/usr/share/bash-completion/completions/pelotest" ||
    fail "the bash completion splits its words"

# The window program runs (its libraries resolve) where the installed pelotest looks for it.
[ "$("$root/usr/libexec/pelotest/pelotest-window" --version)" = "$("$root/usr/bin/pelotest" --version)" ] ||
    fail "the window program does not run"

# The installed program: languages from the package's data folder, settings in the user's folder.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
program=$root/usr/bin/pelotest
"$program" --list-languages | grep -q '^lang_en\.dll	' ||
    fail "the installed program does not offer lang_en.dll"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$program" --headless --static examples/demo/static --templates examples/demo/templates \
    --virtual app --port "$port" >"$work/out" 2>"$work/err" &
server=$!
for _ in $(seq 100); do
    grep -q Listening "$work/out" && break
    sleep 0.1
done
grep -qx "Listening on http://127.0.0.1:$port/" "$work/out" || fail "no listening line: $(cat "$work/out" "$work/err")"
curl -sf "http://127.0.0.1:$port/index.htm" -o "$work/page" || fail "the demo page was not served"
cmp -s "$work/page" examples/demo/static/index.htm || fail "the demo page came back changed"
kill -TERM "$server"
wait "$server" || fail "the headless program did not end with 0: $(cat "$work/err")"
server=
[ -f "$XDG_CONFIG_HOME/pelotest/pelotest.ini" ] || fail "no settings file in \$XDG_CONFIG_HOME/pelotest"
! grep -q "^Port=$port" "$XDG_CONFIG_HOME/pelotest/pelotest.ini" ||
    fail "the settings file took the port given for one run"
[ "$(ls "$root/usr/bin")" = pelotest ] || fail "the program wrote beside its executable: $(ls "$root/usr/bin")"
echo "package test: $(basename "$deb") installs and serves"
