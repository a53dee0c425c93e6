#!/bin/bash
# Runs the demo headless on a fresh SQLite store; fails when the run reports
# a failed check.
#   run-demo-tour.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$(mktemp -d "$build/demo-tour.XXXXXX")"
trap 'rm -rf "$work"' EXIT
win() { echo "Z:${1//\//\\}"; }
for run in 1; do
    mkdir -p "$work/out$run"
    if ! "$build/wine-run" --timeout 180 XTRmDemo.exe --headless --database "$(win "$work/tour.db")" \
        --out "$(win "$work/out$run")" >"$work/run$run.log" 2>&1; then
        cat "$work/run$run.log"
        echo "demo tour: run $run failed" >&2
        exit 1
    fi
    grep -E "^(inactivity|first login|signature|session lock):" "$work/run$run.log"
done
