#!/bin/bash
# A throwaway PostgreSQL cluster on a free loopback port, for the tests, the
# demo and the load run of the rights service.
#   pg-cluster.sh start DIR   creates (once) and starts a cluster in DIR; prints
#                             "PORT USER PASSWORD DATABASE" on one line
#   pg-cluster.sh stop DIR    stops it (the files stay, for the next start)
# initdb and pg_ctl refuse to run as root: as root they run as postgres.
set -euo pipefail

#   pg-cluster.sh start DIR --if-available   the same, but without the server
#                             binaries it says so and succeeds (the tests then
#                             run on SQLite alone)
cmd="${1:-}"; dir="${2:-}"; optional="${3:-}"
[[ -n "$cmd" && -n "$dir" ]] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }
bindir="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)"
if [[ ! -x "$bindir/initdb" ]]; then
    rm -f "$dir/port"
    [[ "$optional" == "--if-available" ]] && { echo "pg-cluster: no PostgreSQL server here"; exit 0; }
    echo "pg-cluster: PostgreSQL server binaries not found" >&2; exit 3
fi

as_pg() {
    if [[ $(id -u) -eq 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi
}

user=xtrms
database=xtrms
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
# The server runs as postgres and must reach its files: when DIR lies below a
# folder postgres cannot enter (a private temporary folder, say), the cluster
# itself lives in a folder of its own under /tmp, named after DIR. DIR keeps
# only what the callers read (port, password, logs).
pgroot="$dir"
if [[ $(id -u) -eq 0 ]] && ! runuser -u postgres -- test -x "$dir" 2>/dev/null; then
    pgroot="${TMPDIR:-/tmp}/xtrms-pg-$(printf '%s' "$dir" | sha1sum | cut -c1-16)"
    mkdir -p "$pgroot"
    chmod 700 "$pgroot"
    chown postgres "$pgroot"
fi
data="$pgroot/data"

case "$cmd" in
start)
    if [[ ! -f "$data/PG_VERSION" ]]; then
        # A fresh password per cluster; the cluster is as throwaway as it.
        password="$(head -c 18 /dev/urandom | base64 | tr -d '/+=')"
        umask 077
        printf '%s\n' "$password" > "$dir/password"
        printf '%s\n' "$password" > "$pgroot/pwfile"
        [[ $(id -u) -eq 0 ]] && chown -R postgres "$pgroot"
        as_pg "$bindir/initdb" -D "$data" -U postgres --pwfile="$pgroot/pwfile" -A scram-sha-256 \
            -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
        rm -f "$pgroot/pwfile"
        {
            echo "listen_addresses = '127.0.0.1'"
            echo "unix_socket_directories = '$pgroot'"
            echo "max_connections = 200"
            echo "fsync = on"
        } >> "$data/postgresql.conf"
        printf 'local all all scram-sha-256\nhost all all 127.0.0.1/32 scram-sha-256\nhost all all ::1/128 scram-sha-256\n' \
            > "$data/pg_hba.conf"
        [[ $(id -u) -eq 0 ]] && chown -R postgres "$pgroot"
        fresh=1
    fi
    password="$(cat "$dir/password")"
    # A server left running by an interrupted run is stopped first.
    as_pg "$bindir/pg_ctl" -D "$data" status >/dev/null 2>&1 && as_pg "$bindir/pg_ctl" -D "$data" -m fast -w stop >/dev/null
    # A free loopback port, asked of the kernel.
    port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
    as_pg "$bindir/pg_ctl" -D "$data" -l "$pgroot/server.log" -o "-p $port" -w -t 30 start >/dev/null
    echo "$port" > "$dir/port"
    if [[ -n "${fresh:-}" ]]; then
        export PGPASSWORD="$password"
        psql="$bindir/psql"; [[ -x "$psql" ]] || psql=psql
        as_pg env PGPASSWORD="$password" "$psql" -q -h 127.0.0.1 -p "$port" -U postgres -d postgres \
            -c "CREATE ROLE $user LOGIN PASSWORD '$password'" -c "CREATE DATABASE $database OWNER $user" >/dev/null
    fi
    echo "$port $user $password $database"
    ;;
stop)
    [[ -f "$data/PG_VERSION" ]] || exit 0
    as_pg "$bindir/pg_ctl" -D "$data" -m fast -w -t 30 stop >/dev/null 2>&1 || true
    rm -f "$dir/port"
    ;;
*)
    echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
