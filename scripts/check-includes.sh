#!/usr/bin/env bash
# Checks that the folders include each other one way only:
#   platform < state < language < server < pages < desktop < app
# A file may include headers of its own folder and of the folders below it: app/ (main()) may
# start the desktop, the desktop never uses app/. The embedded pictures (resources/) may be used
# from pages/ upwards.
# Prints every include that points upwards and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
    case $1 in
    platform) echo 0 ;;
    state) echo 1 ;;
    language) echo 2 ;;
    server) echo 3 ;;
    resources) echo 4 ;; # usable from pages/ upwards
    pages) echo 4 ;;
    desktop) echo 5 ;;
    app) echo 6 ;;
    *) echo -1 ;;
    esac
}

status=0
checked=0
for folder in platform state language server pages app desktop; do
    [ -d "$folder" ] || continue
    own=$(rank "$folder")
    while IFS= read -r -d '' file; do
        line_number=0
        while IFS= read -r line; do
            line_number=$((line_number + 1))
            [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^/\"]+)/[^\"]*\" ]] || continue
            target=${BASH_REMATCH[1]}
            checked=$((checked + 1))
            other=$(rank "$target")
            if [ "$other" -lt 0 ]; then
                echo "$file:$line_number: includes from unknown folder $target/: $line"
                status=1
            elif [ "$other" -gt "$own" ]; then
                echo "$file:$line_number: $folder/ must not include $target/: $line"
                status=1
            fi
        done <"$file"
    done < <(find "$folder" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' \) -print0)
done

if [ "$status" -ne 0 ]; then
    echo "include check failed: a lower folder includes a higher one" >&2
    exit 1
fi

# Every call of the operating system goes through platform/: no other folder includes a POSIX
# or Windows header. The files listed here still do and are yet to be moved (docs/windows.md).
not_yet_moved=" \
desktop/StopSignals.cpp "
system_headers='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(sys/|unistd\.h|fcntl\.h|signal\.h|csignal|poll\.h|netinet/|arpa/|dirent\.h|pwd\.h|spawn\.h|pthread\.h|windows\.h|winsock2\.h|ws2tcpip\.h|shellapi\.h|io\.h)'
for folder in state language server pages app desktop; do
    [ -d "$folder" ] || continue
    while IFS= read -r file; do
        [[ $not_yet_moved == *" $file "* ]] && continue
        echo "$file: includes a system header; its calls belong in platform/"
        status=1
    done < <(grep -rlE "$system_headers" "$folder" --include='*.h' --include='*.cpp' || true)
done
if [ "$status" -ne 0 ]; then
    echo "include check failed: a system header outside platform/" >&2
    exit 1
fi
echo "include check: $checked folder includes, all point downwards; system headers only in platform/"
