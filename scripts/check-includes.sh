#!/usr/bin/env bash
# Checks that the folders include each other one way only:
#   state < language < server < pages < desktop < app
# A file may include headers of its own folder and of the folders below it: app/ (main()) may
# start the desktop, the desktop never uses app/. The embedded pictures (resources/) may be used
# from pages/ upwards.
# Prints every include that points upwards and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
    case $1 in
    state) echo 0 ;;
    language) echo 1 ;;
    server) echo 2 ;;
    resources) echo 3 ;; # usable from pages/ upwards
    pages) echo 3 ;;
    desktop) echo 4 ;;
    app) echo 5 ;;
    *) echo -1 ;;
    esac
}

status=0
checked=0
for folder in state language server pages app desktop; do
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
echo "include check: $checked folder includes, all point downwards"
