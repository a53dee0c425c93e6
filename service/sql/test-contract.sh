#!/bin/bash
# Exercises XTRmsPostgres.sql, XTRmsPostgres5.sql, XTRmsPostgresAudit.sql and
# XTRmsPostgres7.sql against the loopback cluster of tools/pg-cluster.sh: makes
# version-3 stores in throwaway databases (one with users and an audit trail
# hashed the old way), upgrades them to version 4, 5 and 6, calls the functions
# as the workstation account and as the administrator, then upgrades to 7 and
# calls the password lifecycle's, the lock's and the signature's functions.
#   service/sql/test-contract.sh DIR    (DIR as given to pg-cluster.sh start)
# XTRMS_UPGRADE_SQL, XTRMS_UPGRADE5_SQL, XTRMS_UPGRADE_AUDIT_SQL and XTRMS_UPGRADE7_SQL name other
# scripts to try in their places.
# Exit code 0 when every case passed.
set -uo pipefail

dir="${1:?usage: $0 CLUSTER-DIR}"
here="$(cd "$(dirname "$0")" && pwd)"
upgrade="${XTRMS_UPGRADE_SQL:-$here/XTRmsPostgres.sql}"
upgrade5="${XTRMS_UPGRADE5_SQL:-$here/XTRmsPostgres5.sql}"
upgrade_audit="${XTRMS_UPGRADE_AUDIT_SQL:-$here/XTRmsPostgresAudit.sql}"
upgrade7="${XTRMS_UPGRADE7_SQL:-$here/XTRmsPostgres7.sql}"
port="$(cat "$dir/port")"
ws_password="$(cat "$dir/password")"
admin_password="$(cat "$dir/admin-password")"
db=xtrms_contract
db2=xtrms_contract_empty
failures=0
passes=0

# psql with the SQLSTATE of an error as its only text, so that cases compare it.
run() { # ACCOUNT DATABASE SQL
    local user=xtrms password="$ws_password"
    [[ "$1" == dba ]] && { user=postgres; password="$admin_password"; }
    PGPASSWORD="$password" timeout 20 psql -X -q -A -t -h 127.0.0.1 -p "$port" -U "$user" -d "$2" \
        -v ON_ERROR_STOP=1 -v VERBOSITY=sqlstate -c "$3" 2>&1 | sed -e 's/^psql:[^E]*ERROR:  /ERROR: /' -e 's/^ERROR:  /ERROR: /'
}
ws() { run ws "$db" "$1"; }
dba() { run dba "$db" "$1"; }

check() { # NAME EXPECTED ACTUAL
    if [[ "$2" == "$3" ]]; then
        passes=$((passes + 1))
    else
        failures=$((failures + 1))
        printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    fi
}

# The derived key the client would send: PBKDF2-HMAC-SHA256 of the password.
key() { # PASSWORD SALT_HEX ITERATIONS
    python3 -c 'import hashlib,sys; print(hashlib.pbkdf2_hmac("sha256", sys.argv[1].encode(), bytes.fromhex(sys.argv[2]), int(sys.argv[3])).hex())' "$@"
}
salt=00112233445566778899aabbccddeeff
old_key="$(key oldpw $salt 1000)"
new_key="$(key newpw $salt 1000)"
bad_key="$(key wrong $salt 1000)"

# A version-3 store; with users and a trail whose hashes count lengths in
# UTF-16 code units, as the workstations wrote them. BREAK=N spoils row N.
v3_store() { # DATABASE WITH_DATA BREAK
    run dba postgres "DROP DATABASE IF EXISTS $1" >/dev/null
    run dba postgres "CREATE DATABASE $1" >/dev/null
    python3 - "$2" "$3" "$old_key" "$salt" <<'EOF' | PGPASSWORD="$admin_password" psql -X -q -h 127.0.0.1 -p "$port" -U postgres -d "$1" -v ON_ERROR_STOP=1 >/dev/null
import hashlib, sys
with_data, break_at, key, salt = sys.argv[1] == "1", int(sys.argv[2]), sys.argv[3], sys.argv[4]
print("""
CREATE TABLE xtrms_schema (id INTEGER PRIMARY KEY, version INTEGER NOT NULL);
INSERT INTO xtrms_schema VALUES (1, 3);
CREATE TABLE xtrms_rights (id INTEGER PRIMARY KEY, name VARCHAR(200) NOT NULL);
CREATE TABLE xtrms_roles (id INTEGER PRIMARY KEY, name VARCHAR(200) NOT NULL, super_user INTEGER NOT NULL);
CREATE TABLE xtrms_role_rights (role_id INTEGER NOT NULL, right_id INTEGER NOT NULL, PRIMARY KEY (role_id, right_id));
CREATE TABLE xtrms_users (name VARCHAR(256) PRIMARY KEY, full_name VARCHAR(256) NOT NULL, role_id INTEGER NOT NULL,
  password_hash VARCHAR(128), password_salt VARCHAR(64), password_iterations INTEGER,
  failed_logins INTEGER NOT NULL DEFAULT 0, locked_until BIGINT NOT NULL DEFAULT 0, disabled INTEGER NOT NULL DEFAULT 0);
CREATE TABLE xtrms_user_rights (user_name VARCHAR(256) NOT NULL, right_id INTEGER NOT NULL,
  PRIMARY KEY (user_name, right_id));
CREATE TABLE xtrms_audit (seq BIGINT PRIMARY KEY, at_utc VARCHAR(32) NOT NULL, workstation VARCHAR(256) NOT NULL,
  os_user VARCHAR(256) NOT NULL, actor VARCHAR(256) NOT NULL, event VARCHAR(64) NOT NULL,
  subject VARCHAR(256) NOT NULL, detail VARCHAR(512) NOT NULL, hash VARCHAR(64) NOT NULL);
CREATE TABLE xtrms_audit_head (id INTEGER PRIMARY KEY, seq BIGINT NOT NULL, hash VARCHAR(64) NOT NULL);
CREATE TABLE xtrms_name_failures (name_key VARCHAR(64) PRIMARY KEY, failed_logins INTEGER NOT NULL DEFAULT 0,
  locked_until BIGINT NOT NULL DEFAULT 0);
""")
head = (0, "")
if with_data:
    print("INSERT INTO xtrms_rights VALUES (1,'View'),(2,'Edit'),(3,'Admin');")
    print("INSERT INTO xtrms_roles VALUES (1,'Operator',0),(2,'Administrator',1);")
    print("INSERT INTO xtrms_role_rights VALUES (1,1),(2,1),(2,2),(2,3);")
    print("INSERT INTO xtrms_users (name, full_name, role_id, password_hash, password_salt, password_iterations) "
          f"VALUES ('admin','Admin',2,'{key}','{salt}',1000), ('op','Operator',1,'{key}','{salt}',1000),"
          " ('nopw','',1,NULL,NULL,NULL);")
    print("INSERT INTO xtrms_user_rights VALUES ('admin',1),('admin',2),('admin',3),('op',1);")
    rows = [("2024-01-01T00:00:00Z", "WS1", "alice", "", "definitions-written", "", "3 rights, 2 roles"),
            ("2024-01-01T00:00:01Z", "WS1", "alice", "admin", "login", "admin", ""),
            ("2024-01-01T00:00:02Z", "WS\U0001F600", "b\u00f6b", "admin", "user-created", "op", "role \U0001F600"),
            ("2024-01-01T00:00:03Z", "WS1", "alice", "", "login-refused", "", "2 unknown user")]
    prev = ""
    for seq, row in enumerate(rows, 1):
        text = prev
        for field in [str(seq)] + list(row):
            text += "|" + str(len(field.encode("utf-16-le")) // 2) + ":" + field
        digest = hashlib.sha256(text.encode("utf-8")).hexdigest()
        values = ",".join("'" + f + "'" for f in row)
        print(f"INSERT INTO xtrms_audit VALUES ({seq},{values},'{'0' * 64 if seq == break_at else digest}');")
        prev = digest
    head = (len(rows), prev)
print(f"INSERT INTO xtrms_audit_head VALUES (1,{head[0]},'{head[1]}');")
EOF
}

run_script() { # DATABASE FILE -> SQLSTATE or "ok"
    local errors
    errors="$(PGPASSWORD="$admin_password" timeout 60 psql -X -q -h 127.0.0.1 -p "$port" -U postgres -d "$1" \
        -v ON_ERROR_STOP=1 -v VERBOSITY=sqlstate -1 -f "$2" 2>&1 >/dev/null)"
    [[ "$errors" != *ERROR* ]] && echo ok || sed -n 's/^.*ERROR:  \(.....\).*$/\1/p' <<<"$errors" | head -n 1
}
# Version 3 to 4, then 4 to 5 and 5 to 6, each in its own transaction as the service
# runs them.
upgrade_store() { # DATABASE -> SQLSTATE or "ok"
    local result
    result="$(run_script "$1" "$upgrade")"
    [[ "$result" == ok ]] && result="$(run_script "$1" "$upgrade5")"
    [[ "$result" == ok ]] && result="$(run_script "$1" "$upgrade_audit")"
    echo "$result"
}

# --- The upgrade ---------------------------------------------------------------
# The service cuts the file at the lines "--;" and sends each piece on its
# own: every piece must be exactly one statement, and no psql command.
split_problems() { # FILE
    python3 - "$1" <<'EOF'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
pieces = re.split(r"^--;$", text, flags=re.M)
if pieces[-1].strip():
    print("text after the last --;")
for number, piece in enumerate(pieces[:-1], 1):
    statements, words, i = 0, "", 0
    while i < len(piece):
        c = piece[i]
        if piece.startswith("--", i):
            end = piece.find("\n", i)
            i = len(piece) if end < 0 else end
            continue
        quote = re.match(r"'|\"|\$[A-Za-z_]*\$", piece[i:])
        if quote:
            i = piece.index(quote.group(0), i + len(quote.group(0))) + len(quote.group(0))
            words += "x"
            continue
        if c == ";":
            statements += 1
            words = ""
        elif c == "\\" and not words.strip():
            print(f"piece {number} holds a psql command")
        else:
            words += c
        i += 1
    if statements != 1 or words.strip():
        print(f"piece {number} holds {statements} statements")
EOF
}
for file in "$upgrade" "$upgrade5" "$upgrade_audit" "$upgrade7"; do
    check "$(basename "$file") cuts into single statements" "" "$(split_problems "$file")"
done
v3_store "$db" 1 3
check "upgrade refuses a broken old trail" "XT009" "$(upgrade_store "$db")"
check "a refused upgrade changes nothing" "3" "$(dba "SELECT version FROM public.xtrms_schema")"
v3_store "$db" 1 0
check "upgrade of an intact store" "ok" "$(upgrade_store "$db")"
check "upgrade a second time is refused" "55000" "$(upgrade_store "$db")"
check "the version-5 upgrade a second time is refused" "55000" "$(run_script "$db" "$upgrade5")"
check "the version-6 upgrade a second time is refused" "55000" "$(run_script "$db" "$upgrade_audit")"
v3_store "$db2" 0 0
check "upgrade of an empty store" "ok" "$(upgrade_store "$db2")"
# A server without pg_trgm: the upgrade goes through without the text index
# and the text filter reads the rows.
db3=xtrms_contract_plain
v3_store "$db3" 1 0
no_trgm="$(mktemp)"
sed "s/'pg_trgm'/'pg_trgm_absent'/" "$upgrade_audit" >"$no_trgm"
check "upgrade without pg_trgm" "ok" "$(upgrade_audit="$no_trgm" upgrade_store "$db3")"
rm -f "$no_trgm"
check "no text index without pg_trgm" "0" "$(run dba "$db3" "SELECT count(*) FROM pg_indexes WHERE indexname = 'xtrms_audit_text'")"
check "the text filter without the index" "1|user-created" \
    "$(run dba "$db3" "SELECT count(*) || '|' || min(event) FROM xtrms.query_audit(NULL, NULL, NULL, NULL, NULL, 'ROLE ', 0, 10)")"
run dba postgres "DROP DATABASE IF EXISTS $db3" >/dev/null
strip() { sed -e "/^--/d" -e "/^$/d" -e "/^\\\\/d"; }
check "two upgrades make the same schema" "" "$(diff <(PGPASSWORD="$admin_password" pg_dump -s -h 127.0.0.1 -p "$port" -U postgres "$db" | strip) \
    <(PGPASSWORD="$admin_password" pg_dump -s -h 127.0.0.1 -p "$port" -U postgres "$db2" | strip))"

# --- What the workstation account may and may not do -------------------------------
granted="add_user change_own_password define import_users list_users login login_params logout policy query_audit read_audit rehash rights roles save_changes schema_version session set_disabled set_password set_policy unlock verify_audit"
check "the workstation may call exactly its functions" "$granted" \
    "$(ws "SELECT string_agg(p.proname, ' ' ORDER BY p.proname) FROM pg_proc p WHERE p.pronamespace = 'xtrms'::regnamespace AND has_function_privilege(p.oid, 'EXECUTE')")"
check "only the owner may execute redefine and the label checks" "xtrms_owner=X/xtrms_owner xtrms_owner=X/xtrms_owner xtrms_owner=X/xtrms_owner" \
    "$(dba "SELECT string_agg(array_to_string(p.proacl, ','), ' ' ORDER BY p.proname) FROM pg_proc p WHERE p.pronamespace = 'xtrms'::regnamespace AND p.proname IN ('redefine', 'xtrms_valid_label', 'xtrms_check_label')")"
while IFS='^' read -r name sql expected; do
    [[ -z "$name" ]] && continue
    check "$name" "$expected" "$(ws "$sql")"
done <<'EOF'
read a table^SELECT count(*) FROM xtrms.xtrms_users^ERROR: 42501
change the trail^UPDATE xtrms.xtrms_audit SET detail = 'x'^ERROR: 42501
move the head^UPDATE xtrms.xtrms_audit_head SET seq = 0^ERROR: 42501
create a table in public^CREATE TABLE public.t (i int)^ERROR: 42501
create a temporary table^CREATE TEMP TABLE t (i int)^ERROR: 42501
create a schema^CREATE SCHEMA s^ERROR: 42501
append to the trail directly^SELECT xtrms.xtrms_audit('', '', '', 'x', '', '')^ERROR: 42501
take the checkpoint^SELECT seq FROM xtrms.audit_checkpoint()^ERROR: 42501
call pgcrypto^SELECT xtrms.gen_random_bytes(4)^ERROR: 42501
read the version^SELECT xtrms.schema_version()^6
redefine^SELECT xtrms.redefine('[{"id":1,"name":"View"}]', '[{"id":1,"name":"Operator","rights":[1]}]', 'WS9', 'tester')^ERROR: 42501
define over definitions^SELECT xtrms.define('[]', '[]', '{}')^0
read the rights^SELECT string_agg(id || '=' || name, ',') FROM xtrms.rights()^1=View,2=Edit,3=Admin
read the roles^SELECT string_agg(id || ':' || super_user || ':' || rights, ',') FROM xtrms.roles()^1:false:1,2:true:1;2;3
salt of a user^SELECT salt_hex || ' ' || iterations FROM xtrms.login_params('admin')^00112233445566778899aabbccddeeff 1000
EOF
check "salt of an unknown name is stable" "$(ws "SELECT salt_hex FROM xtrms.login_params('ghost')")" \
    "$(ws "SELECT salt_hex FROM xtrms.login_params('ghost')")"
check "salt of a user without password looks like an unknown one" "32 600000" \
    "$(ws "SELECT length(salt_hex) || ' ' || iterations FROM xtrms.login_params('nopw')")"

# --- Logins --------------------------------------------------------------------------
login() { # NAME KEY -> "result|token"
    ws "SELECT result || '|' || coalesce(token, '') FROM xtrms.login('$1', '$2', 'WS9', 'tester')"
}
last_audit() { dba "SELECT event || '|' || actor || '|' || subject || '|' || detail FROM xtrms.xtrms_audit ORDER BY seq DESC LIMIT 1"; }
admin="$(login admin "$old_key" | cut -d'|' -f2)"
check "an old password still logs in after the upgrade" "64" "${#admin}"
check "a login is audited" "login|admin|admin|" "$(last_audit)"
op="$(login op "$old_key" | cut -d'|' -f2)"
while IFS='^' read -r name user key expected audit; do
    [[ -z "$name" ]] && continue
    check "$name" "$expected" "$(login "$user" "$key" | cut -d'|' -f1)"
    check "$name: audited" "$audit" "$(last_audit)"
done <<EOF
wrong password^op^$bad_key^2^login-refused||op|2 wrong password
no password stored^nopw^$bad_key^2^login-refused||nopw|2 wrong password
unknown name^ghost^$bad_key^2^login-refused|||2 unknown user
invalid name^bad$(printf '\t')name^$bad_key^2^login-refused|||2 unknown user
guest not allowed^^^9^login-refused|||9 guest not allowed
EOF
for i in 2 3 4; do login op "$bad_key" >/dev/null; login ghost "$bad_key" >/dev/null; done
check "the fifth failure locks a user" "4" "$(login op "$bad_key" | cut -d'|' -f1)"
check "locking is audited" "user-locked||op|5 failed logins" "$(last_audit)"
check "the fifth failure locks an unknown name too" "4" "$(login ghost "$bad_key" | cut -d'|' -f1)"
check "a locked user is refused with the right key" "4" "$(login op "$old_key" | cut -d'|' -f1)"
check "a locked unknown name is refused without its name" "login-refused|||4 locked" \
    "$(login ghost "$bad_key" >/dev/null; last_audit)"
check "a locked user's session is no longer valid" "" "$(ws "SELECT user_name FROM xtrms.session('$op')")"
check "the admin's session is" "admin|2|true|false|1;2;3" \
    "$(ws "SELECT user_name || '|' || role_id || '|' || super_user || '|' || guest || '|' || rights FROM xtrms.session('$admin')")"
spare="$(login admin "$old_key" | cut -d'|' -f2)"
check "a session ends with its logout" "0" "$(ws "SELECT xtrms.logout('$spare'); SELECT count(*) FROM xtrms.session('$spare')" | tail -n 1)"
spare="$(login admin "$old_key" | cut -d'|' -f2)"
dba "UPDATE xtrms.xtrms_sessions SET expires = now() - interval '1 second' WHERE token_hash = encode(sha256(convert_to('$spare', 'UTF8')), 'hex')" >/dev/null
check "an expired session is no longer valid" "ERROR: XT001" "$(ws "SELECT count(*) FROM xtrms.list_users('$spare')")"
check "only the token's hash is stored" "0" "$(dba "SELECT count(*) FROM xtrms.xtrms_sessions WHERE token_hash IN ('$admin', '$spare')")"

# --- Who may administer ------------------------------------------------------------------
admin_calls="$(cat <<'EOF'
count(*) FROM xtrms.list_users(@)
xtrms.save_changes(@, '[]', 'WS9', 'tester')
xtrms.add_user(@, 'eve', '', 1, NULL, NULL, NULL, 'WS9', 'tester')
xtrms.set_password(@, 'admin', '00112233445566778899aabbccddeeff', 1000, repeat('ab', 32), 'WS9', 'tester')
xtrms.unlock(@, 'op', 'WS9', 'tester')
xtrms.set_disabled(@, 'admin', true, 'WS9', 'tester')
xtrms.import_users(@, '[]', 'WS9', 'tester')
xtrms.set_policy(@, '{"guest_allowed": true}', 'WS9', 'tester')
count(*) FROM xtrms.read_audit(@, 0)
count(*) FROM xtrms.verify_audit(@, NULL, NULL)
count(*) FROM xtrms.query_audit(@, NULL, NULL, NULL, NULL, NULL, 0, 10)
EOF
)"
while IFS='^' read -r fn; do
    [[ -z "$fn" ]] && continue
    for who in "" "not-a-token" "$op"; do
        token="'$who'"; [[ -z "$who" ]] && token=NULL
        check "$fn needs a super user's session (token ${who:0:8})" "ERROR: XT001" "$(ws "SELECT ${fn//@/$token}")"
    done
done <<<"$admin_calls"
check "change_own_password needs a session" "ERROR: XT001" \
    "$(ws "SELECT xtrms.change_own_password(NULL, '$old_key', '$salt', 1000, '$new_key', 'WS9', 'tester')")"
check "the administrator may act without a session" "dba:postgres" \
    "$(dba "SELECT xtrms.unlock(NULL, 'op', 'WS0', 'root')" >/dev/null; dba "SELECT actor FROM xtrms.xtrms_audit ORDER BY seq DESC LIMIT 1")"

# --- Administration ---------------------------------------------------------------------
head_seq() { dba "SELECT seq FROM xtrms.xtrms_audit_head"; }
while IFS='^' read -r name sql expected audit; do
    [[ -z "$name" ]] && continue
    before="$(head_seq)"
    check "$name" "$expected" "$(ws "${sql//@admin/$admin}")"
    if [[ -n "$audit" ]]; then
        check "$name: audited" "$audit" "$(last_audit)"
    else
        check "$name: nothing audited" "$before" "$(head_seq)"
    fi
done <<EOF
create and grant^SELECT xtrms.save_changes('@admin', '[{"op":"create","user":"carol","full_name":"Carol","role":1},{"op":"right","user":"carol","right":2,"allowed":true},{"op":"right","user":"carol","right":1,"allowed":true}]', 'WS9', 'tester')^2^right-granted|admin|carol|right 2 (Edit): no -> yes
create an existing user^SELECT xtrms.save_changes('@admin', '[{"op":"create","user":"carol","full_name":"","role":1}]', 'WS9', 'tester')^ERROR: XT003^
all or nothing^SELECT xtrms.save_changes('@admin', '[{"op":"create","user":"dave","full_name":"","role":1},{"op":"right","user":"dave","right":99,"allowed":true}]', 'WS9', 'tester')^ERROR: XT003^
remove oneself^SELECT xtrms.save_changes('@admin', '[{"op":"remove","user":"admin"}]', 'WS9', 'tester')^ERROR: XT002^
remove a removed user^SELECT xtrms.save_changes('@admin', '[{"op":"remove","user":"dave"}]', 'WS9', 'tester')^ERROR: XT003^
create an invalid name^SELECT xtrms.save_changes('@admin', '[{"op":"create","user":"a\u202eb","full_name":"","role":1}]', 'WS9', 'tester')^ERROR: XT004^
add a user with a password^SELECT xtrms.add_user('@admin', 'dave', 'Dave', 2, '$salt', 1000, '$new_key', 'WS9', 'tester')^^password-set|admin|dave|
add an existing user^SELECT xtrms.add_user('@admin', 'dave', 'Dave', 1, NULL, NULL, NULL, 'WS9', 'tester')^ERROR: XT003^
add with too few iterations^SELECT xtrms.add_user('@admin', 'erin', '', 1, '$salt', 999, '$new_key', 'WS9', 'tester')^ERROR: XT004^
add with no such role^SELECT xtrms.add_user('@admin', 'erin', '', 7, NULL, NULL, NULL, 'WS9', 'tester')^ERROR: XT003^
disable oneself^SELECT xtrms.set_disabled('@admin', 'admin', true, 'WS9', 'tester')^ERROR: XT002^
disable a user^SELECT xtrms.set_disabled('@admin', 'carol', true, 'WS9', 'tester')^^user-disabled|admin|carol|
unlock a user^SELECT xtrms.unlock('@admin', 'op', 'WS9', 'tester')^^user-unlocked|admin|op|
set a password^SELECT xtrms.set_password('@admin', 'nopw', '$salt', 1000, '$old_key', 'WS9', 'tester')^^password-set|admin|nopw|
set a policy^SELECT xtrms.set_policy('@admin', '{"guest_allowed":true,"guest_rights":"1","lockout_threshold":5}', 'WS9', 'tester')^^policy-changed|admin||guest_allowed=true, guest_rights=1
set an unknown policy key^SELECT xtrms.set_policy('@admin', '{"colour":1}', 'WS9', 'tester')^ERROR: XT004^
EOF
check "the created user got the role's rights and the grant" "carol|1;2" \
    "$(ws "SELECT name || '|' || rights FROM xtrms.list_users('$admin') WHERE name = 'carol'")"
ws "SELECT xtrms.set_password('$admin', 'carol', '$salt', 1000, '$old_key', 'WS9', 'tester')" >/dev/null
check "a disabled user with the right key" "11" "$(login carol "$old_key" | cut -d'|' -f1)"
guest="$(login "" "" | cut -d'|' -f2)"
check "a guest when allowed" "|0|false|true|1" \
    "$(ws "SELECT user_name || '|' || role_id || '|' || super_user || '|' || guest || '|' || rights FROM xtrms.session('$guest')")"
check "a guest may not administer" "ERROR: XT001" "$(ws "SELECT count(*) FROM xtrms.list_users('$guest')")"
check "a guest may not change a password" "ERROR: XT001" \
    "$(ws "SELECT xtrms.change_own_password('$guest', '', '$salt', 1000, '$new_key', 'WS9', 'tester')")"

# Own password: a wrong old one is refused and recorded, the right one works.
op="$(login op "$old_key" | cut -d'|' -f2)"
# An operator's own valid session opens no administrative function either.
token="'$op'"
while IFS='^' read -r fn; do
    [[ -z "$fn" ]] && continue
    check "$fn needs a super user's session (an operator's)" "ERROR: XT001" "$(ws "SELECT ${fn//@/$token}")"
done <<<"$admin_calls"
check "wrong old password" "1" "$(ws "SELECT xtrms.change_own_password('$op', '$bad_key', '$salt', 1000, '$new_key', 'WS9', 'tester')")"
check "wrong old password: audited" "password-change-refused|op|op|wrong old password" "$(last_audit)"
check "wrong old password: counted" "1" "$(dba "SELECT failed_logins FROM xtrms.xtrms_users WHERE name = 'op'")"
check "right old password" "0" "$(ws "SELECT xtrms.change_own_password('$op', '$old_key', '$salt', 1000, '$new_key', 'WS9', 'tester')")"
check "the new password logs in" "1" "$(login op "$new_key" | cut -d'|' -f1)"

# The last enabled super user: admin and dave are the super users now.
dave="$(login dave "$new_key" | cut -d'|' -f2)"
check "disable the other super user" "" "$(ws "SELECT xtrms.set_disabled('$admin', 'dave', true, 'WS9', 'tester')")"
check "a disabled super user loses his power at once" "ERROR: XT001" "$(ws "SELECT count(*) FROM xtrms.list_users('$dave')")"
check "the last enabled super user cannot be disabled" "ERROR: XT002" \
    "$(dba "SELECT xtrms.set_disabled(NULL, 'admin', true, 'WS0', 'root')")"
check "nor removed" "ERROR: XT002" "$(dba "SELECT xtrms.save_changes(NULL, '[{\"op\":\"remove\",\"user\":\"admin\"}]', 'WS0', 'root')")"
check "nor demoted by an import" "ERROR: XT002" \
    "$(dba "SELECT xtrms.import_users(NULL, '[{\"user\":\"admin\",\"full_name\":\"\",\"role\":1,\"disabled\":false,\"rights\":[]}]', 'WS0', 'root')")"
check "enable him again" "" "$(ws "SELECT xtrms.set_disabled('$admin', 'dave', false, 'WS9', 'tester')")"
check "an import may not demote the caller" "ERROR: XT002" \
    "$(ws "SELECT xtrms.import_users('$admin', '[{\"user\":\"admin\",\"full_name\":\"\",\"role\":1,\"disabled\":false,\"rights\":[]}]', 'WS9', 'tester')")"
check "an import demotes another" "1" \
    "$(ws "SELECT xtrms.import_users('$admin', '[{\"user\":\"dave\",\"full_name\":\"D\",\"role\":1,\"disabled\":false,\"rights\":[1]}]', 'WS9', 'tester')")"
check "a demoted super user loses his power at once" "ERROR: XT001" "$(ws "SELECT count(*) FROM xtrms.list_users('$dave')")"
while IFS='^' read -r name rows expected; do
    [[ -z "$name" ]] && continue
    check "import: $name" "$expected" "$(ws "SELECT xtrms.import_users('$admin', '$rows', 'WS9', 'tester')")"
done <<'EOF'
an invalid row^[{"user":"x1","full_name":"","role":1,"disabled":false,"rights":[]},{"user":"","full_name":"","role":1,"disabled":false,"rights":[]}]^ERROR: XT004
no such role^[{"user":"x1","full_name":"","role":9,"disabled":false,"rights":[]}]^ERROR: XT003
no such right^[{"user":"x1","full_name":"","role":1,"disabled":false,"rights":[1,9]}]^ERROR: XT003
a name twice^[{"user":"x1","full_name":"","role":1,"disabled":false,"rights":[]},{"user":"x1","full_name":"","role":1,"disabled":false,"rights":[]}]^ERROR: XT004
rights made exact^[{"user":"carol","full_name":"C","role":1,"disabled":false,"rights":[3]},{"user":"x1","full_name":"","role":1,"disabled":true,"rights":[2]}]^2
EOF
check "import: the rights are exactly the list" "carol:3 x1:2" \
    "$(ws "SELECT string_agg(name || ':' || rights, ' ' ORDER BY name) FROM xtrms.list_users('$admin') WHERE name IN ('carol', 'x1')")"
check "import: one audit row per user" "user-imported|admin|carol|updated user-imported|admin|x1|created" \
    "$(dba "SELECT string_agg(event || '|' || actor || '|' || subject || '|' || detail, ' ' ORDER BY seq) FROM (SELECT * FROM xtrms.xtrms_audit ORDER BY seq DESC LIMIT 2) a")"
check "import: ten thousand rows" "10000" \
    "$(ws "SELECT xtrms.import_users('$admin', (SELECT jsonb_agg(jsonb_build_object('user', 'bulk' || i, 'full_name', 'Bulk ' || i, 'role', 1, 'disabled', false, 'rights', jsonb_build_array(1, 2))) FROM generate_series(1, 10000) i), 'WS9', 'tester')")"

# --- The administrator's redefinition ----------------------------------------------------
# The store holds rights 1 View, 2 Edit, 3 Admin and roles 1 Operator (1, 2),
# 2 Administrator (1, 2, 3, super user); users hold rights 1 to 3 and both roles.
redefine() { # ACCOUNT RIGHTS ROLES
    run "$1" "$db" "SELECT xtrms.redefine('$2', '$3', 'WS0', 'root')"
}
rights3='[{"id":1,"name":"View"},{"id":2,"name":"Edit records"},{"id":3,"name":"Admin"},{"id":4,"name":"Export"}]'
roles2='[{"id":1,"name":"Operator","rights":[1,2,4]},{"id":2,"name":"Administrator","super_user":true,"rights":[1,2,3]},{"id":3,"name":"Auditor","rights":[1]}]'
check "a workstation may not redefine" "ERROR: 42501" "$(redefine ws "$rights3" "$roles2")"
before="$(head_seq)"
while IFS='^' read -r name rights roles expected; do
    [[ -z "$name" ]] && continue
    check "redefine: $name" "$expected" "$(redefine dba "$rights" "$roles")"
    check "redefine: $name: nothing written" "$before|1=View,2=Edit,3=Admin" \
        "$(head_seq)|$(ws "SELECT string_agg(id || '=' || name, ',' ORDER BY id) FROM xtrms.rights()")"
done <<'EOF'
no roles^[{"id":1,"name":"View"}]^[]^ERROR: XT004
a right twice^[{"id":1,"name":"View"},{"id":1,"name":"Edit"}]^[{"id":1,"name":"Operator"}]^ERROR: XT004
a right's id out of range^[{"id":1000000000,"name":"View"}]^[{"id":1,"name":"Operator"}]^ERROR: XT004
a role's id out of range^[{"id":1,"name":"View"}]^[{"id":0,"name":"Operator"}]^ERROR: XT004
a label with a control character^[{"id":1,"name":"Vi\u0007ew"}]^[{"id":1,"name":"Operator"}]^ERROR: XT004
a label not in NFC^[{"id":1,"name":"Cafe\u0301"}]^[{"id":1,"name":"Operator"}]^ERROR: XT004
a label with a space at the end^[{"id":1,"name":"View "}]^[{"id":1,"name":"Operator"}]^ERROR: XT004
two roles of one name^[{"id":1,"name":"View"}]^[{"id":1,"name":"Operator"},{"id":2,"name":"OPERATOR"}]^ERROR: XT004
a role with an undefined right^[{"id":1,"name":"View"}]^[{"id":1,"name":"Operator","rights":[2]}]^ERROR: XT004
dropping a granted right^[{"id":1,"name":"View"},{"id":2,"name":"Edit"}]^[{"id":1,"name":"Operator","rights":[1]},{"id":2,"name":"Administrator","super_user":true,"rights":[1,2]}]^ERROR: XT002
dropping a held role^[{"id":1,"name":"View"},{"id":2,"name":"Edit"},{"id":3,"name":"Admin"}]^[{"id":2,"name":"Administrator","super_user":true,"rights":[1,2,3]}]^ERROR: XT002
demoting the last super users^[{"id":1,"name":"View"},{"id":2,"name":"Edit"},{"id":3,"name":"Admin"}]^[{"id":1,"name":"Operator","rights":[1,2]},{"id":2,"name":"Administrator","rights":[1,2,3]}]^ERROR: XT002
EOF
check "redefine adds, renames and changes" "4" "$(redefine dba "$rights3" "$roles2")"
check "redefine: one audit row each, in order" "right-renamed|dba:postgres|right 2|Edit -> Edit records right-added|dba:postgres|right 4|Export role-changed|dba:postgres|role 1|Operator; rights 1;2;4 role-added|dba:postgres|role 3|Auditor; rights 1" \
    "$(dba "SELECT string_agg(event || '|' || actor || '|' || subject || '|' || detail, ' ' ORDER BY seq) FROM (SELECT * FROM xtrms.xtrms_audit ORDER BY seq DESC LIMIT 4) a")"
check "redefine: what the workstations read" "1:false:1;2;4 2:true:1;2;3 3:false:1" \
    "$(ws "SELECT string_agg(id || ':' || super_user || ':' || rights, ' ' ORDER BY id) FROM xtrms.roles()")"
check "redefine: users keep their own rights" "carol|3" \
    "$(ws "SELECT name || '|' || rights FROM xtrms.list_users('$admin') WHERE name = 'carol'")"
before="$(head_seq)"
check "redefine with nothing new changes nothing" "0|$before" "$(redefine dba "$rights3" "$roles2")|$(head_seq)"
check "redefine drops what nobody holds" "3" \
    "$(redefine dba '[{"id":1,"name":"View"},{"id":2,"name":"Edit records"},{"id":3,"name":"Admin"}]' '[{"id":1,"name":"Operator","rights":[1,2]},{"id":2,"name":"Administrator","super_user":true,"rights":[1,2,3]}]')"
check "redefine: drops audited" "right-removed|right 4|Export role-changed|role 1|Operator; rights 1;2 role-removed|role 3|Auditor" \
    "$(dba "SELECT string_agg(event || '|' || subject || '|' || detail, ' ' ORDER BY seq) FROM (SELECT * FROM xtrms.xtrms_audit ORDER BY seq DESC LIMIT 3) a")"

# --- The trail -------------------------------------------------------------------------
check "the trail is intact" "true||$(head_seq)" "$(ws "SELECT intact || '|' || problem || '|' || head_seq FROM xtrms.verify_audit('$admin', NULL, NULL)")"
check "read the newest rows" "3" "$(ws "SELECT count(*) FROM xtrms.read_audit('$admin', 3)")"
check "a page of the trail, newest first" "$(head_seq) $(( $(head_seq) - 1 ))" \
    "$(ws "SELECT string_agg(seq::text, ' ' ORDER BY seq DESC) FROM xtrms.query_audit('$admin', NULL, NULL, NULL, NULL, NULL, 0, 2)")"
check "the page below a row starts under it" "$(( $(head_seq) - 2 ))" \
    "$(ws "SELECT max(seq) FROM xtrms.query_audit('$admin', NULL, NULL, NULL, NULL, NULL, $(( $(head_seq) - 1 )), 5)")"
check "a right granted names its value before and after" "right 2 (Edit): no -> yes" \
    "$(ws "SELECT detail FROM xtrms.query_audit('$admin', NULL, NULL, 'CAROL', 'right-granted', 'EDIT', 0, 1)")"
check "a filter's values are data, not SQL" "0" \
    "$(ws "SELECT count(*) FROM xtrms.query_audit('$admin', NULL, NULL, 'x'' OR ''1''=''1', NULL, ''' OR true --', 0, 10)")"
check "the text filter has its trigram index" "1" \
    "$(dba "SELECT count(*) FROM pg_indexes WHERE schemaname = 'xtrms' AND indexname = 'xtrms_audit_text' AND indexdef LIKE '%gin_trgm_ops%'")"
# A text finds what looking into each field on its own finds: %, _ and \
# only themselves, nothing across two fields, short texts too.
for text in '%' '_' '\' 'ADMIN' 'Gr' 'x' 'right 2 (EDIT)' 'adminlogin' 'zws' "o'p"; do
    quoted="\$q\$$text\$q\$"
    check "the text $text" \
        "$(dba "SELECT count(*) || ':' || string_agg(seq::text, ' ' ORDER BY seq DESC) FROM (SELECT a.seq FROM xtrms.xtrms_audit a WHERE $(for f in at_utc workstation os_user actor event subject detail; do printf 'strpos(lower(a.%s), lower(%s)) > 0 OR ' "$f" "$quoted"; done) false ORDER BY a.seq DESC LIMIT 50) m")" \
        "$(ws "SELECT count(*) || ':' || string_agg(seq::text, ' ' ORDER BY seq DESC) FROM xtrms.query_audit('$admin', NULL, NULL, NULL, NULL, $quoted, 0, 50)")"
done
check "a text with a control character is refused" "ERROR: XT004" \
    "$(ws "SELECT count(*) FROM xtrms.query_audit('$admin', NULL, NULL, NULL, NULL, 'admin' || chr(1) || 'login', 0, 10)")"
# The function's expression is the index's: with the plain ways off, a rare
# text is looked up through the index (its scans counted once the session ends).
text_scans() { dba "SELECT idx_scan FROM pg_stat_user_indexes WHERE indexrelname = 'xtrms_audit_text'"; }
scans="$(text_scans)"
dba "SET enable_seqscan = off; SET enable_indexscan = off; SELECT count(*) FROM xtrms.query_audit(NULL, NULL, NULL, NULL, NULL, 'right 2 (Edit)', 0, 10); SELECT pg_stat_force_next_flush()" >/dev/null
check "the text filter reads through the index" "$((scans + 1))" "$(text_scans)"
check "a time not in the trail's form is refused" "ERROR: XT004" \
    "$(ws "SELECT count(*) FROM xtrms.query_audit('$admin', '2027-01-15', NULL, NULL, NULL, NULL, 0, 10)")"
check "a page holds at most 1000 rows" "ERROR: XT004" \
    "$(ws "SELECT count(*) FROM xtrms.query_audit('$admin', NULL, NULL, NULL, NULL, NULL, 0, 1001)")"
checkpoint="$(dba "SELECT seq || '|' || hash FROM xtrms.audit_checkpoint()")"
check "the superuser may not change a row either" "ERROR: XT001" "$(dba "UPDATE xtrms.xtrms_audit SET detail = 'x' WHERE seq = 2")"
check "nor empty the trail" "ERROR: XT001" "$(dba "TRUNCATE xtrms.xtrms_audit")"
check "nor move the head back" "ERROR: XT001" "$(dba "UPDATE xtrms.xtrms_audit_head SET seq = 1, hash = (SELECT hash FROM xtrms.xtrms_audit WHERE seq = 1)")"
dba "ALTER TABLE xtrms.xtrms_audit DISABLE TRIGGER USER; UPDATE xtrms.xtrms_audit SET detail = 'x' WHERE seq = 2; ALTER TABLE xtrms.xtrms_audit ENABLE TRIGGER USER" >/dev/null
check "an edited row is found" "false|audit row 2 was changed" "$(ws "SELECT intact || '|' || problem FROM xtrms.verify_audit('$admin', NULL, NULL)")"
dba "ALTER TABLE xtrms.xtrms_audit DISABLE TRIGGER USER; ALTER TABLE xtrms.xtrms_audit_head DISABLE TRIGGER USER;
     UPDATE xtrms.xtrms_audit SET detail = '' WHERE seq = 2; DELETE FROM xtrms.xtrms_audit WHERE seq = (SELECT max(seq) FROM xtrms.xtrms_audit);
     ALTER TABLE xtrms.xtrms_audit ENABLE TRIGGER USER; ALTER TABLE xtrms.xtrms_audit_head ENABLE TRIGGER USER" >/dev/null
check "a removed last row is found" "false|the audit trail ends at row $(( ${checkpoint%%|*} - 1 )) but its head is row ${checkpoint%%|*}: rows were removed or the head was changed" \
    "$(ws "SELECT intact || '|' || problem FROM xtrms.verify_audit('$admin', NULL, NULL)")"
dba "ALTER TABLE xtrms.xtrms_audit_head DISABLE TRIGGER USER; UPDATE xtrms.xtrms_audit_head SET seq = seq - 1, hash = (SELECT hash FROM xtrms.xtrms_audit ORDER BY seq DESC LIMIT 1); ALTER TABLE xtrms.xtrms_audit_head ENABLE TRIGGER USER" >/dev/null
check "a cut-off trail passes without a checkpoint" "true|" "$(ws "SELECT intact || '|' || problem FROM xtrms.verify_audit('$admin', NULL, NULL)")"
check "but not with one" "false|audit row ${checkpoint%%|*} does not match the checkpoint" \
    "$(ws "SELECT intact || '|' || problem FROM xtrms.verify_audit('$admin', ${checkpoint%%|*}, '${checkpoint#*|}')")"

# --- A workstation that goes quiet holding the head ------------------------------------------
quiet() { # ACCOUNT: begins, logs in, then sits idle in the transaction for 6 s
    local user=xtrms password="$ws_password"
    [[ "$1" == dba ]] && { user=postgres; password="$admin_password"; }
    { echo "BEGIN; SELECT result FROM xtrms.login('admin', '$old_key', 'WS8', 'quiet');"; sleep 6; echo "COMMIT;"; } |
        PGPASSWORD="$password" timeout 20 psql -X -q -A -t -h 127.0.0.1 -p "$port" -U "$user" -d "$db" >"$work/quiet.out" 2>&1 &
    quiet_pid=$!
    for _ in $(seq 1 100); do
        [[ "$(dba "SELECT count(*) FROM pg_stat_activity a JOIN pg_locks l ON l.pid = a.pid WHERE a.datname = '$db' AND a.state = 'idle in transaction' AND l.relation = 'xtrms.xtrms_audit_head'::regclass AND l.mode = 'RowShareLock'")" == 1 ]] && break
        sleep 0.1
    done
}
work="$(mktemp -d)"
quiet ws
check "a quiet workstation does not stop the others" "1" "$(login admin "$old_key" | cut -d'|' -f1)"
wait "$quiet_pid"
check "the quiet workstation lost its transaction" "1" "$(grep -c 'terminating connection due to administrator command' "$work/quiet.out")"
quiet dba
check "a quiet administrator is not ended" "ERROR: 55P03" "$(login admin "$old_key")"
wait "$quiet_pid"
rm -rf "$work"

# --- Version 7: the password lifecycle, the session's lock, signatures -------------------
check "upgrade to version 7" "ok" "$(run_script "$db" "$upgrade7")"
check "the version-7 upgrade a second time is refused" "55000" "$(run_script "$db" "$upgrade7")"
check "version 7" "7" "$(ws "SELECT xtrms.schema_version()")"
granted7="add_user change_own_password change_password define import_users list_users lock_session login login_params logout password_policy password_salts policy query_audit read_audit rehash rights roles save_changes schema_version session set_disabled set_password set_policy sign switch_user unlock unlock_session verify_audit"
check "the workstation may call exactly its functions at version 7" "$granted7" \
    "$(ws "SELECT string_agg(p.proname, ' ' ORDER BY p.proname) FROM pg_proc p WHERE p.pronamespace = 'xtrms'::regnamespace AND has_function_privilege(p.oid, 'EXECUTE')")"
# Every function the owner's, a definer's, pinned; no table privilege but the
# owner's: checked on the schema every server ends at.
check "every function of version 7 is the owner's, definer's, pinned" "0" \
    "$(dba "SELECT count(*) FROM pg_proc p WHERE p.pronamespace = 'xtrms'::regnamespace
            AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE d.objid = p.oid AND d.deptype = 'e')
            AND NOT (p.prosecdef AND p.proowner = 'xtrms_owner'::regrole
                     AND 'search_path=xtrms, pg_temp' = ANY (p.proconfig) AND 'lock_timeout=3s' = ANY (p.proconfig))")"
check "no table privilege for anybody but the owner at version 7" "0" \
    "$(dba "SELECT count(*) FROM pg_class c, aclexplode(c.relacl) a WHERE c.relnamespace = 'xtrms'::regnamespace AND a.grantee <> 'xtrms_owner'::regrole")"
check "the history is out of reach" "ERROR: 42501" "$(ws "SELECT count(*) FROM xtrms.xtrms_password_history")"
check "the policy's new fields and their defaults" "0|0|0|true|" \
    "$(ws "SELECT max_age_days || '|' || min_age_days || '|' || history || '|' || must_change_after_reset || '|' || signed_rights FROM xtrms.password_policy()")"
while IFS='^' read -r fn; do
    [[ -z "$fn" ]] && continue
    for who in "" "not-a-token"; do
        token="'$who'"; [[ -z "$who" ]] && token=NULL
        check "$fn needs a session (token ${who:0:8})" "ERROR: XT001" "$(ws "SELECT ${fn//@/$token}")"
    done
done <<EOF
xtrms.lock_session(@, 'WS9', 'tester')
xtrms.unlock_session(@, '$old_key', 'WS9', 'tester')
xtrms.switch_user(@, @, 'WS9', 'tester')
count(*) FROM xtrms.sign(@, 'admin', '$old_key', 'Release', 'Approved', '', 'WS9', 'tester')
count(*) FROM xtrms.change_password(@, 'admin', '$old_key', '$salt', 1000, '$new_key', '$new_key', false, 'WS9', 'tester')
xtrms.change_own_password(@, '$old_key', '$salt', 1000, '$new_key', 'WS9', 'tester')
EOF
admin="$(login admin "$old_key" | cut -d'|' -f2)"
check "an administrator's new account" "" "$(ws "SELECT xtrms.add_user('$admin', 'frank', 'Frank', 1, '$salt', 1000, '$old_key', 'WS9', 'tester')")"
check "must change its password at the first login" "6|" "$(login frank "$old_key")"
check "the refusal is audited" "login-refused||frank|6 password expired" "$(last_audit)"
check "a wrong password gives no hint" "2|" "$(login frank "$bad_key")"
change() { # OLD_KEY HISTORY_KEYS -> result|user
    ws "SELECT result || '|' || coalesce(user_name, '') FROM xtrms.change_password(NULL, 'frank', '$1', '$salt', 1000, '$new_key', '$2', true, 'WS9', 'tester')"
}
check "the salts the change derives with" "$salt" "$(ws "SELECT string_agg(salt_hex, ',') FROM xtrms.password_salts('frank')")"
check "a forced change with a wrong old key" "1|" "$(change "$bad_key" "$new_key")"
check "a forced change to the same password" "8|" "$(change "$old_key" "$old_key")"
check "a forced change logs in" "0|frank" "$(change "$old_key" "$new_key")"
check "a forced change is audited" "login|frank|frank|" "$(last_audit)"
check "and no longer asked for" "1" "$(login frank "$new_key" | cut -d'|' -f1)"
check "nor possible without a due password" "4|" "$(ws "SELECT result || '|' FROM xtrms.change_password(NULL, 'frank', '$new_key', '$salt', 1000, '$old_key', '$old_key', true, 'WS9', 'tester')")"
frank="$(login frank "$new_key" | cut -d'|' -f2)"
check "lock a session" "session-locked|frank|frank|" "$(ws "SELECT xtrms.lock_session('$frank', 'WS9', 'tester')" >/dev/null; last_audit)"
check "a wrong key at the lock" "2" "$(ws "SELECT xtrms.unlock_session('$frank', '$bad_key', 'WS9', 'tester')")"
check "counted as a failed login" "1" "$(dba "SELECT failed_logins FROM xtrms.xtrms_users WHERE name = 'frank'")"
check "the right key unlocks" "1" "$(ws "SELECT xtrms.unlock_session('$frank', '$new_key', 'WS9', 'tester')")"
check "unlock is audited" "session-unlocked|frank|frank|" "$(last_audit)"
# The token of a locked screen is worth nothing but its unlock, the switch
# and the logout, even an administrator's.
ws "SELECT xtrms.lock_session('$admin', 'WS9', 'tester')" >/dev/null
token="'$admin'"
while IFS='^' read -r fn; do
    [[ -z "$fn" ]] && continue
    check "a locked administrator's session: $fn" "ERROR: XT001" "$(ws "SELECT ${fn//@/$token}")"
done <<<"$admin_calls
xtrms.lock_session(@, 'WS9', 'tester')
xtrms.change_own_password(@, '$old_key', '$salt', 1000, '$new_key', 'WS9', 'tester')
count(*) FROM xtrms.change_password(@, 'admin', '$old_key', '$salt', 1000, '$new_key', '$new_key', false, 'WS9', 'tester')
count(*) FROM xtrms.sign(@, 'frank', '$new_key', 'Release', 'Approved', '', 'WS9', 'tester')"
check "a locked session is no session" "" "$(ws "SELECT user_name FROM xtrms.session('$admin')")"
check "the administrator unlocks" "1" "$(ws "SELECT xtrms.unlock_session('$admin', '$old_key', 'WS9', 'tester')")"
check "and is one again" "admin" "$(ws "SELECT user_name FROM xtrms.session('$admin')")"
ws "SELECT xtrms.lock_session('$frank', 'WS9', 'tester')" >/dev/null
check "another user switches in" "user-switched|admin|admin|frank" \
    "$(ws "SELECT xtrms.switch_user('$frank', '$admin', 'WS9', 'tester')" >/dev/null; last_audit)"
check "the locked session ended" "" "$(ws "SELECT user_name FROM xtrms.session('$frank')")"
check "a signature" "0|frank|Frank" \
    "$(ws "SELECT result || '|' || user_name || '|' || full_name FROM xtrms.sign('$admin', 'frank', '$new_key', 'Release batch 4711', 'Approved', 'admin', 'WS9', 'tester')")"
check "a signature is audited" "signature|admin|frank|Release batch 4711; reason: Approved; first signer: admin" "$(last_audit)"
check "the same signer twice" "4" "$(ws "SELECT result FROM xtrms.sign('$admin', 'Frank', '$new_key', 'Release', 'Approved', 'frank', 'WS9', 'tester')")"
check "a signature with a wrong key" "1" "$(ws "SELECT result FROM xtrms.sign('$admin', 'frank', '$bad_key', 'Release', 'Approved', '', 'WS9', 'tester')")"
check "the trail is intact at version 7" "t" "$(dba "SELECT intact FROM xtrms.verify_audit(NULL, 0, '')")"

# --- Definitions on a new store -----------------------------------------------------------
db="$db2"
check "the empty store to version 7" "ok" "$(run_script "$db2" "$upgrade7")"
# The workstation's first write is checked like the site's own definition.
while IFS='^' read -r name rights roles; do
    [[ -z "$name" ]] && continue
    check "define refuses $name" "ERROR: XT004" "$(ws "SELECT xtrms.define('$rights', '$roles', '{}')")"
done <<'EOF'
a control character in a label^[{"id":1,"name":"View\u0007"}]^[]
a label with a space at its end^[{"id":1,"name":"View "}]^[]
a negative right^[{"id":-1,"name":"View"}]^[]
a right beyond the range^[{"id":1000000000,"name":"View"}]^[]
role 0^[{"id":1,"name":"View"}]^[{"id":0,"name":"Guest","rights":[1]}]
two roles of one name^[{"id":1,"name":"View"}]^[{"id":1,"name":"Operator"},{"id":2,"name":"OPERATOR"}]
EOF
check "nothing of a refused definition is written" "0|0" "$(dba "SELECT (SELECT count(*) FROM xtrms.xtrms_rights) || '|' || (SELECT count(*) FROM xtrms.xtrms_roles)")"
check "define on an empty store" "1" \
    "$(ws "SELECT xtrms.define('[{\"id\":1,\"name\":\"View\"},{\"id\":2,\"name\":\"Edit\"}]', '[{\"id\":2,\"name\":\"Administrator\",\"super_user\":true,\"rights\":[1,2]}]', '{\"iterations\":1000,\"report_unknown\":true}')")"
check "define is audited" "definitions-written|||2 rights, 1 roles" "$(last_audit)"
check "define writes the policy" "1000|true|5" "$(ws "SELECT iterations || '|' || report_unknown || '|' || lockout_threshold FROM xtrms.policy()")"
check "define writes once" "0" "$(ws "SELECT xtrms.define('[]', '[]', '{}')")"
check "an unknown name reported as such when asked" "3" "$(login ghost "$bad_key" | cut -d'|' -f1)"
check "the trail of the new store is intact" "t" "$(dba "SELECT intact FROM xtrms.verify_audit(NULL, 0, '')")"

run dba postgres "DROP DATABASE IF EXISTS xtrms_contract" >/dev/null
run dba postgres "DROP DATABASE IF EXISTS xtrms_contract_empty" >/dev/null
echo "$passes passed, $failures failed"
[[ $failures -eq 0 ]]
