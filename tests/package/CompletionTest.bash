#!/usr/bin/env bash
# Checks the bash completion of kestrel-sc by completing lines as bash would.
# Usage: CompletionTest.bash COMPLETION_SCRIPT EXAMPLES_DIR
set -uo pipefail
source "$1"
cd "$2" || exit 1
failures=0

# Completes line (its last word is the one being completed) and compares with expected.
expect() {
    local line=$1 expected=$2
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _kestrel_sc 2>/dev/null
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    expected=$(printf '%s\n' $expected | sort | tr '\n' ' ')
    if [[ $got != "$expected" ]]; then
        echo "FAIL: '$line' completes to '$got', expected '$expected'"
        failures=$((failures + 1))
    fi
}

expect "kestrel-sc " "tree info cat check get diff export import-mesh import-image import-gltf view"
expect "kestrel-sc i" "info import-mesh import-image import-gltf"
expect "kestrel-sc import-gltf m.glb --t" "--transform"
expect "kestrel-sc --" "--module --quiet --progress --no-progress --help --version"
expect "kestrel-sc --module lib.so -q c" "cat check"
expect "kestrel-sc tree --" "--depth --types --mask --indent --items --help"
expect "kestrel-sc cat --to " "xml json"
expect "kestrel-sc check --format " "text json"
expect "kestrel-sc check --j" "--jobs"
expect "kestrel-sc cat a.xml b.xml -" "-o --output --to --indent --compact -j --jobs -h --help"
expect "kestrel-sc cat -j " ""
expect "kestrel-sc check --jobs 2 sh" "showcase.xml"
expect "kestrel-sc diff --i" "--ignore-order"
expect "kestrel-sc export a.xml --mesh-format " "ply obj"
expect "kestrel-sc import-image logo.png --" "--into --element --name --output --help"
expect "kestrel-sc tree sh" "showcase.xml"
expect "kestrel-sc get assembly.xml " ""
expect "kestrel-sc tree --depth " ""

if [[ $failures -ne 0 ]]; then
    echo "$failures completions wrong"
    exit 1
fi
echo "all completions as expected"
