#!/bin/bash
# What `make bench` runs after building: the benchmarks, and where PostgreSQL's
# server binaries are installed, the rights service's figures on a throwaway
# loopback cluster and then its load run on a fresh one.
#   bench/run-bench.sh BUILD_DIR [Catch2 arguments...]
# Each cluster lives in BUILD_DIR/bench-postgres and is stopped on every exit.
# pg-cluster.sh prints the cluster's password: its output goes nowhere.
set -euo pipefail

build="$(cd "${1:?usage: $0 BUILD_DIR [arguments]}" && pwd)"
shift
cluster="$(cd "$(dirname "$0")/.." && pwd)/tools/pg-cluster.sh"
pgdir="$build/bench-postgres"

have_postgres() {
    compgen -G "/usr/lib/postgresql/*/bin/initdb" >/dev/null
}

stop_cluster() {
    bash "$cluster" stop "$pgdir" >/dev/null 2>&1 || true
}

# A new cluster each time: figures are taken on an empty database.
fresh_cluster() {
    stop_cluster
    rm -rf "$pgdir"
    bash "$cluster" start "$pgdir" >/dev/null
}

trap stop_cluster EXIT

if have_postgres; then
    fresh_cluster
    export XTRMS_BENCH_PG_DIR="$pgdir"
else
    echo "run-bench: no PostgreSQL server here; the rights service is measured on SQLite only"
fi
"$build/wine-run" --timeout 1200 XTRmBench.exe "$@"

if have_postgres; then
    # 60 s of load plus set-up; the run stops by itself.
    fresh_cluster
    "$build/wine-run" --timeout 300 XTRmBench.exe --load "$pgdir"
    stop_cluster
fi
