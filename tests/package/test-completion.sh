#!/usr/bin/env bash
# Checks the bash completion: every candidate is one word, whatever it holds (a space, '*', '$').
# Usage: tests/package/test-completion.sh COMPLETION-FILE   (test-package.sh runs it)
set -euo pipefail
completion=$(realpath "${1:?usage: test-completion.sh COMPLETION-FILE}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch "my settings.ini" 'star*.ini' 'dollar$HOME.ini'
mkdir "a dir"
complete() { :; }
# shellcheck source=/dev/null
source "$completion"
failed=0
# check WORD... -- CANDIDATE...: completing the last word gives exactly these candidates.
check() {
    local words=()
    while [ "$1" != -- ]; do
        words+=("$1")
        shift
    done
    shift
    COMP_WORDS=("${words[@]}")
    COMP_CWORD=$((${#words[@]} - 1))
    COMPREPLY=()
    _pelotest
    local got want
    got=$(printf '[%s]' "${COMPREPLY[@]}")
    want=$(printf '[%s]' "$@")
    if [ "$got" != "$want" ]; then
        echo "completion test: ${words[*]}: got $got, expected $want" >&2
        failed=1
    fi
}
check pelotest --settings my -- "my settings.ini"
check pelotest --settings st -- 'star*.ini'
check pelotest --language dol -- 'dollar$HOME.ini'
check pelotest --static a -- "a dir"
check pelotest --he -- --headless --help
exit $failed
