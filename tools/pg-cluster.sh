#!/bin/bash
# A throwaway PostgreSQL cluster on a free loopback port, for the tests, the
# demo and the load run of the rights service.
#   pg-cluster.sh start DIR   creates (once) and starts a cluster in DIR; prints
#                             "PORT USER PASSWORD DATABASE" on one line: the
#                             workstation account (user xtrms, password in
#                             DIR/password)
#   pg-cluster.sh stop DIR    stops it (the files stay, for the next start)
# The superuser postgres has a password of its own, in DIR/admin-password: it
# owns the database and runs the store's upgrades. The workstation account
# may only log in and call the store's functions (granted to its group
# xtrms_workstation by the upgrade, which also makes the owner xtrms_owner).
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

new_password() {
    printf '%s\n' "$(head -c 18 /dev/urandom | base64 | tr -d '/+=')"
}

# The accounts, on a fresh cluster or one made before the workstation account
# lost its rights: postgres (the administrator) with a password of its own;
# xtrms, a member of xtrms_workstation, that logs in and nothing more, with
# short timeouts so that a workstation that goes quiet in a transaction
# holds nothing for long; the database owned by postgres. The SQL goes
# through standard input, so that no password shows in a process list, and
# errors are terse, so that none lands in a log.
provision() {
    local port="$1" admin_now="$2" admin_new="$3" password="$4"
    local psql="$bindir/psql"; [[ -x "$psql" ]] || psql=psql
    printf '%s\n' \
        "\\set ON_ERROR_STOP 1" \
        "\\set VERBOSITY terse" \
        "SELECT 'CREATE ROLE xtrms_workstation NOLOGIN' WHERE NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'xtrms_workstation') \\gexec" \
        "SELECT 'CREATE ROLE $user LOGIN' WHERE NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '$user') \\gexec" \
        "ALTER ROLE $user LOGIN PASSWORD '$password' NOSUPERUSER NOCREATEDB NOCREATEROLE NOREPLICATION NOBYPASSRLS;" \
        "GRANT xtrms_workstation TO $user;" \
        "ALTER ROLE $user SET statement_timeout = '5s';" \
        "ALTER ROLE $user SET lock_timeout = '3s';" \
        "ALTER ROLE $user SET idle_in_transaction_session_timeout = '5s';" \
        "SELECT 'CREATE DATABASE $database OWNER postgres' WHERE NOT EXISTS (SELECT 1 FROM pg_database WHERE datname = '$database') \\gexec" \
        "ALTER DATABASE $database OWNER TO postgres;" \
        "REVOKE CREATE, TEMPORARY ON DATABASE $database FROM PUBLIC;" \
        "REVOKE CONNECT, TEMPORARY ON DATABASE postgres FROM PUBLIC;" \
        "ALTER ROLE postgres PASSWORD '$admin_new';" |
        as_pg env PGPASSWORD="$admin_now" "$psql" -q -X -h 127.0.0.1 -p "$port" -U postgres -d postgres -f - >/dev/null
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
        # Fresh passwords per cluster; the cluster is as throwaway as it.
        umask 077
        new_password > "$dir/password"
        new_password > "$dir/admin-password"
        cp "$dir/admin-password" "$pgroot/pwfile"
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
    # A cluster made before the workstation account had its own password:
    # the superuser's was the same, and gets one of its own below.
    if [[ ! -f "$dir/admin-password" ]]; then
        umask 077
        cp "$dir/password" "$dir/admin-password.old"
        new_password > "$dir/admin-password.new"
        migrate=1
    fi
    password="$(cat "$dir/password")"
    # A server left running by an interrupted run is stopped first.
    as_pg "$bindir/pg_ctl" -D "$data" status >/dev/null 2>&1 && as_pg "$bindir/pg_ctl" -D "$data" -m fast -w stop >/dev/null
    # A free loopback port: XTRM_PG_PORT when it is free (a repeatable
    # gallery), else the kernel's pick.
    port="$(python3 -c 'import os, socket
s = socket.socket()
try:
    s.bind(("127.0.0.1", int(os.environ.get("XTRM_PG_PORT", "0"))))
except OSError:
    s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')"
    as_pg "$bindir/pg_ctl" -D "$data" -l "$pgroot/server.log" -o "-p $port" -w -t 30 start >/dev/null
    echo "$port" > "$dir/port"
    if [[ -n "${fresh:-}" || -n "${migrate:-}" ]]; then
        if [[ -n "${migrate:-}" ]]; then
            admin_now="$(cat "$dir/admin-password.old")"; admin_new="$(cat "$dir/admin-password.new")"
        else
            admin_now="$(cat "$dir/admin-password")"; admin_new="$admin_now"
        fi
        provision "$port" "$admin_now" "$admin_new" "$password" >"$dir/provision.log" 2>&1 || {
            echo "pg-cluster: the cluster's accounts could not be set up (see $dir/provision.log)" >&2; exit 4; }
        if [[ -n "${migrate:-}" ]]; then
            mv "$dir/admin-password.new" "$dir/admin-password"
            rm -f "$dir/admin-password.old"
        fi
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
