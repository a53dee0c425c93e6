-- XTRms on PostgreSQL: version 3 to version 4.
--
-- Until version 3 every workstation connected as one account that owned the
-- tables, so any workstation could rewrite rights, passwords and the audit
-- trail. From version 4 the tables belong to xtrms_owner, a role that never
-- logs in, in schema xtrms; workstations (members of xtrms_workstation) reach
-- them only through the SECURITY DEFINER functions below, which check the
-- caller's session, keep the rules and write the audit trail themselves.
--
-- The database administrator (a superuser) runs this file in one transaction.
-- It is cut into statements at the lines that hold exactly "--;", so one such
-- line follows every statement; psql -1 -f reads it the same way.
--
-- SQLSTATEs raised by the functions:
--   XT001 not permitted (no valid session, not a super user)
--   XT002 refused by a rule (yourself, the last enabled super user)
--   XT003 no such user / user exists already / no such role / no such right
--   XT004 invalid input (name, full name, hex, iterations, JSON shape)
--   XT009 the old audit trail is broken: the upgrade refuses
--   55P03 the audit head could not be locked within about 3 s

DO $$
BEGIN
    IF NOT (SELECT r.rolsuper FROM pg_roles r WHERE r.rolname = current_user) THEN
        RAISE EXCEPTION USING ERRCODE = '42501',
            MESSAGE = 'The upgrade of the rights store must be run by a superuser (the database administrator).';
    END IF;
    IF to_regclass('public.xtrms_schema') IS NULL THEN
        RAISE EXCEPTION USING ERRCODE = '55000',
            MESSAGE = 'There is no version-3 rights store in schema public of this database; nothing to upgrade.';
    END IF;
    IF (SELECT s.version FROM public.xtrms_schema s WHERE s.id = 1) IS DISTINCT FROM 3 THEN
        RAISE EXCEPTION USING ERRCODE = '55000',
            MESSAGE = format('The rights store is at version %s; this upgrade turns version 3 into version 4.',
                coalesce((SELECT s.version::text FROM public.xtrms_schema s WHERE s.id = 1), 'unknown'));
    END IF;
    IF to_regclass('xtrms.xtrms_schema') IS NOT NULL THEN
        RAISE EXCEPTION USING ERRCODE = '55000',
            MESSAGE = 'Schema xtrms holds a rights store already; the version-3 store in schema public cannot be moved there.';
    END IF;
END
$$;
--;

-- The old chain is checked before anything changes: a trail that was
-- tampered with must not be blessed with the new key.
DO $$
DECLARE
    v_astral constant text := '[' || chr(65536) || '-' || chr(1114111) || ']';
    v_prev text := '';
    v_n bigint := 0;
    v_text text;
    v_row record;
    v_head record;
    v_field text;
BEGIN
    FOR v_row IN SELECT a.* FROM public.xtrms_audit a ORDER BY a.seq LOOP
        v_n := v_n + 1;
        IF v_row.seq <> v_n THEN
            RAISE EXCEPTION USING ERRCODE = 'XT009',
                MESSAGE = format('the audit trail is broken at row %s; it cannot be upgraded', v_n);
        END IF;
        -- Lengths were counted in UTF-16 code units: a character beyond the
        -- BMP counts twice.
        v_text := v_prev;
        FOREACH v_field IN ARRAY ARRAY[v_row.seq::text, v_row.at_utc, v_row.workstation, v_row.os_user,
                                       v_row.actor, v_row.event, v_row.subject, v_row.detail] LOOP
            v_text := v_text || '|'
                || (2 * length(v_field) - length(regexp_replace(v_field, v_astral, '', 'g')))::text
                || ':' || v_field;
        END LOOP;
        IF encode(sha256(convert_to(v_text, 'UTF8')), 'hex') <> lower(v_row.hash) THEN
            RAISE EXCEPTION USING ERRCODE = 'XT009',
                MESSAGE = format('the audit trail is broken at row %s; it cannot be upgraded', v_row.seq);
        END IF;
        v_prev := v_row.hash;
    END LOOP;
    SELECT h.seq, h.hash INTO v_head FROM public.xtrms_audit_head h WHERE h.id = 1;
    IF NOT FOUND OR v_head.seq <> v_n OR v_head.hash <> v_prev THEN
        RAISE EXCEPTION USING ERRCODE = 'XT009',
            MESSAGE = format('the audit trail is broken at row %s; it cannot be upgraded',
                CASE WHEN NOT FOUND OR v_head.seq > v_n THEN v_n + 1
                     WHEN v_head.seq < v_n THEN v_head.seq + 1
                     ELSE v_n END);
    END IF;
END
$$;
--;

-- The roles are cluster-wide: another database may have made them already.
-- xtrms_owner inherits, or pg_signal_backend and pg_read_all_stats would not
-- take effect inside its functions (see xtrms_lock_head). Nobody may act as
-- it: it cannot log in and no role is a member of it.
DO $$
DECLARE
    v_member text;
BEGIN
    IF NOT EXISTS (SELECT 1 FROM pg_roles r WHERE r.rolname = 'xtrms_owner') THEN
        CREATE ROLE xtrms_owner NOLOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE INHERIT NOREPLICATION NOBYPASSRLS;
    ELSE
        ALTER ROLE xtrms_owner NOLOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE INHERIT NOREPLICATION NOBYPASSRLS
            PASSWORD NULL;
    END IF;
    FOR v_member IN
        SELECT m.rolname FROM pg_auth_members am
        JOIN pg_roles o ON o.oid = am.roleid
        JOIN pg_roles m ON m.oid = am.member
        WHERE o.rolname = 'xtrms_owner'
    LOOP
        EXECUTE format('REVOKE xtrms_owner FROM %I', v_member);
    END LOOP;
    IF NOT EXISTS (SELECT 1 FROM pg_roles r WHERE r.rolname = 'xtrms_workstation') THEN
        CREATE ROLE xtrms_workstation NOLOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOREPLICATION NOBYPASSRLS;
    ELSE
        ALTER ROLE xtrms_workstation NOLOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOREPLICATION NOBYPASSRLS;
    END IF;
    IF NOT pg_has_role('xtrms_owner', 'pg_signal_backend', 'MEMBER') THEN
        GRANT pg_signal_backend TO xtrms_owner;
    END IF;
    IF NOT pg_has_role('xtrms_owner', 'pg_read_all_stats', 'MEMBER') THEN
        GRANT pg_read_all_stats TO xtrms_owner;
    END IF;
END
$$;
--;

-- Nobody but the administrator creates anything in this database. A
-- database owned by the workstation account (as older sites made it) would
-- keep that right, so it passes to the administrator.
DO $$
BEGIN
    IF NOT (SELECT r.rolsuper FROM pg_database d JOIN pg_roles r ON r.oid = d.datdba
            WHERE d.datname = current_database()) THEN
        EXECUTE format('ALTER DATABASE %I OWNER TO %I', current_database(), current_user);
    END IF;
    EXECUTE format('REVOKE CREATE, TEMPORARY ON DATABASE %I FROM PUBLIC', current_database());
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO xtrms_workstation', current_database());
END
$$;
--;

REVOKE CREATE ON SCHEMA public FROM PUBLIC;
--;

CREATE SCHEMA IF NOT EXISTS xtrms AUTHORIZATION xtrms_owner;
--;

ALTER SCHEMA xtrms OWNER TO xtrms_owner;
--;

DO $$
DECLARE
    v_schema text;
BEGIN
    SELECT n.nspname INTO v_schema
    FROM pg_extension e JOIN pg_namespace n ON n.oid = e.extnamespace
    WHERE e.extname = 'pgcrypto';
    IF v_schema IS NOT NULL AND v_schema <> 'xtrms' THEN
        RAISE EXCEPTION USING ERRCODE = '55000',
            MESSAGE = format('The extension pgcrypto is installed in schema %s of this database, but the rights '
                'service needs it in schema xtrms. Drop it (DROP EXTENSION pgcrypto) if nothing else uses it, or '
                'move it (CREATE SCHEMA xtrms; ALTER EXTENSION pgcrypto SET SCHEMA xtrms), then run the upgrade '
                'again.', v_schema);
    END IF;
END
$$;
--;

CREATE EXTENSION IF NOT EXISTS pgcrypto SCHEMA xtrms;
--;

DO $$
DECLARE
    v_table text;
BEGIN
    FOR v_table IN
        SELECT c.relname FROM pg_class c
        WHERE c.relnamespace = 'public'::regnamespace AND c.relkind IN ('r', 'p') AND c.relname LIKE 'xtrms\_%'
        ORDER BY c.relname
    LOOP
        EXECUTE format('ALTER TABLE public.%I SET SCHEMA xtrms', v_table);
    END LOOP;
END
$$;
--;

-- Stored hashes become the SHA-256 of the derived key, so that a copy of the
-- table logs nobody in. A value that is no 32-byte key in hex never matched
-- a password and still matches none.
UPDATE xtrms.xtrms_users
SET password_hash = CASE WHEN password_hash ~ '^[0-9A-Fa-f]{64}$'
                         THEN encode(sha256(decode(password_hash, 'hex')), 'hex') END
WHERE password_hash IS NOT NULL;
--;

CREATE TABLE xtrms.xtrms_secrets (
    id integer PRIMARY KEY DEFAULT 1 CHECK (id = 1),
    audit_key bytea NOT NULL,
    name_key bytea NOT NULL
);
--;

INSERT INTO xtrms.xtrms_secrets (id, audit_key, name_key)
VALUES (1, xtrms.gen_random_bytes(32), xtrms.gen_random_bytes(32));
--;

-- A session is known by the SHA-256 of its token only: the token itself
-- lives on the workstation that logged in.
CREATE TABLE xtrms.xtrms_sessions (
    token_hash text PRIMARY KEY,
    user_name varchar(256) REFERENCES xtrms.xtrms_users (name) ON DELETE CASCADE,
    guest boolean NOT NULL,
    created timestamptz NOT NULL,
    expires timestamptz NOT NULL,
    workstation text NOT NULL,
    CHECK (guest = (user_name IS NULL))
);
--;

CREATE INDEX xtrms_sessions_expires ON xtrms.xtrms_sessions (expires);
--;

CREATE TABLE xtrms.xtrms_policy (
    id integer PRIMARY KEY DEFAULT 1 CHECK (id = 1),
    lockout_threshold integer NOT NULL DEFAULT 5,
    lockout_seconds integer NOT NULL DEFAULT 900,
    guest_allowed boolean NOT NULL DEFAULT false,
    guest_rights text NOT NULL DEFAULT '',
    report_unknown boolean NOT NULL DEFAULT false,
    min_password_length integer NOT NULL DEFAULT 8,
    iterations integer NOT NULL DEFAULT 600000,
    session_hours integer NOT NULL DEFAULT 12,
    defined boolean NOT NULL DEFAULT false
);
--;

INSERT INTO xtrms.xtrms_policy (id) VALUES (1);
--;

CREATE TYPE xtrms.xtrms_import_row AS (
    n bigint,
    name text,
    full_name text,
    role_id integer,
    disabled boolean,
    rights integer[],
    existed boolean
);
--;

-- Names ---------------------------------------------------------------------

-- A user name: 1 to 256 characters in NFC, without control characters and
-- without the invisible ones that make two names look alike (byte order
-- mark, direction marks and embeddings, line and paragraph separators,
-- non-characters).
CREATE FUNCTION xtrms.xtrms_valid_user_name(p_name text) RETURNS boolean
LANGUAGE plpgsql IMMUTABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN p_name IS NOT NULL
        AND length(p_name) BETWEEN 1 AND 256
        AND p_name !~ ('[' || chr(1) || '-' || chr(31) || chr(127) || '-' || chr(159)
                       || chr(8206) || chr(8207) || chr(8232) || chr(8233) || chr(8234) || '-' || chr(8238)
                       || chr(8294) || '-' || chr(8297) || chr(65279) || chr(65534) || chr(65535) || ']')
        AND p_name = normalize(p_name, NFC)
        -- The trail names the administrator dba:NAME and a guest (guest).
        AND lower(left(p_name, 4)) <> 'dba:' AND p_name <> '(guest)'
        AND p_name !~ '^ ' AND p_name !~ ' $';
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_valid_full_name(p_full_name text) RETURNS boolean
LANGUAGE plpgsql IMMUTABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN p_full_name IS NOT NULL
        AND length(p_full_name) <= 256
        AND p_full_name !~ ('[' || chr(1) || '-' || chr(31) || chr(127) || '-' || chr(159) || ']');
END
$$;
--;

-- What a workstation says about itself is recorded as said, but cut to the
-- column and without control characters that would garble a listing.
CREATE FUNCTION xtrms.xtrms_claim(p_text text) RETURNS text
LANGUAGE plpgsql IMMUTABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN regexp_replace(left(coalesce(p_text, ''), 256),
        '[' || chr(1) || '-' || chr(31) || chr(127) || '-' || chr(159) || ']', '?', 'g');
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_now() RETURNS bigint
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN floor(extract(epoch FROM clock_timestamp()))::bigint;
END
$$;
--;

-- The key under which failed logins of a name are counted, and the salt
-- login_params answers for a name without a password: stable per name and
-- telling nothing about whether the name exists.
CREATE FUNCTION xtrms.xtrms_name_key(p_name text) RETURNS text
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN encode(xtrms.hmac(convert_to(coalesce(p_name, ''), 'UTF8'),
                             (SELECT s.name_key FROM xtrms_secrets s WHERE s.id = 1), 'sha256'), 'hex');
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_token_hash(p_token text) RETURNS text
LANGUAGE plpgsql IMMUTABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN encode(sha256(convert_to(p_token, 'UTF8')), 'hex');
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_user_rights_text(p_name text) RETURNS text
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN coalesce((SELECT string_agg(ur.right_id::text, ';' ORDER BY ur.right_id)
                     FROM xtrms_user_rights ur WHERE ur.user_name = p_name), '');
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_enabled_super_users() RETURNS bigint
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN (SELECT count(*) FROM xtrms_users u JOIN xtrms_roles r ON r.id = u.role_id
            WHERE u.disabled = 0 AND r.super_user <> 0);
END
$$;
--;

-- The audit chain -------------------------------------------------------------

-- Every change to the store runs under an exclusive lock on the audit head,
-- so that the chain stays one line and concurrent failed logins all count.
-- Only the functions can take it: nobody else holds a privilege on the table.
--
-- A workstation that began a transaction, called a function and then went
-- quiet would hold that lock and stop the whole site. So the lock is waited
-- for in the lock's queue, which serves fifty workstations logging in at once
-- in turn, for 1.5 s. A caller that waited that long ends the backends that
-- hold the head (any lock on it stronger than a plain read) and have been
-- idle in their transaction for more than 1 s (the functions themselves take
-- milliseconds, so only a stopped client is that slow), unless they are
-- superusers: the quiet workstation loses its transaction, the site goes on.
-- pg_stat_activity shows the state of other roles' backends only to members
-- of pg_read_all_stats, and pg_terminate_backend needs pg_signal_backend; the
-- owner has both. The caller then waits 1 s more; after 2.5 s without the
-- lock, within a workstation's statement bound, it gets 55P03 and may try
-- again. No advisory locks: every client could take those.
CREATE FUNCTION xtrms.xtrms_lock_head() RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_pid integer;
BEGIN
    -- Waiting in the lock's queue keeps each caller's place, so the first
    -- wait is long enough for a busy site's queue; only a caller that waited
    -- that long looks for a stopped holder, ends it and waits once more.
    FOR v_step IN 1 .. 2 LOOP
        PERFORM set_config('lock_timeout', CASE WHEN v_step = 1 THEN '1500ms' ELSE '1000ms' END, true);
        BEGIN
            -- A table lock, not the head row's: the lock manager queues its
            -- waiters and hands it to one at a time, where a row lock would
            -- wake them all at each release. Plain reads are not held up.
            LOCK TABLE xtrms_audit_head IN EXCLUSIVE MODE;
            RETURN;
        EXCEPTION WHEN lock_not_available THEN
            NULL;
        END;
        IF v_step = 2 THEN
            EXIT;
        END IF;
        -- Backend states are read once per transaction unless cleared.
        PERFORM pg_stat_clear_snapshot();
        FOR v_pid IN
            SELECT DISTINCT a.pid
            FROM pg_locks l
            JOIN pg_stat_activity a ON a.pid = l.pid
            JOIN pg_roles r ON r.oid = a.usesysid
            WHERE l.locktype = 'relation' AND l.relation = 'xtrms.xtrms_audit_head'::regclass AND l.granted
              AND l.mode <> 'AccessShareLock'
              AND a.pid <> pg_backend_pid()
              AND a.state IN ('idle in transaction', 'idle in transaction (aborted)')
              AND a.state_change < clock_timestamp() - interval '1 second'
              AND NOT r.rolsuper
        LOOP
            RAISE LOG 'xtrms: ending backend % that held the audit head idle for more than 1 s', v_pid;
            PERFORM pg_terminate_backend(v_pid, 500);
        END LOOP;
    END LOOP;
    RAISE EXCEPTION USING ERRCODE = '55P03',
        MESSAGE = 'The rights server is busy: another session holds the audit trail. Try again.';
END
$$;
--;

-- The hash of an audit row is the lowercase hex HMAC-SHA-256, under
-- xtrms_secrets.audit_key, of the UTF-8 bytes of its canonical text: the
-- previous row's hash ('' for row 1), then for each of seq (decimal), at_utc,
-- workstation, os_user, actor, event, subject and detail, '|', the field's
-- length in characters (PostgreSQL's length(), decimal), ':' and the field.
-- With each length in front no two rows give the same text however their
-- fields are cut; with the key nobody without it can forge a row.
CREATE FUNCTION xtrms.xtrms_audit_hash(p_key bytea, p_prev text, p_seq bigint, p_at_utc text,
    p_workstation text, p_os_user text, p_actor text, p_event text, p_subject text, p_detail text)
RETURNS text
LANGUAGE sql IMMUTABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
    SELECT encode(xtrms.hmac(convert_to(
               p_prev
               || '|' || length(p_seq::text) || ':' || p_seq::text
               || '|' || length(p_at_utc) || ':' || p_at_utc
               || '|' || length(p_workstation) || ':' || p_workstation
               || '|' || length(p_os_user) || ':' || p_os_user
               || '|' || length(p_actor) || ':' || p_actor
               || '|' || length(p_event) || ':' || p_event
               || '|' || length(p_subject) || ':' || p_subject
               || '|' || length(p_detail) || ':' || p_detail, 'UTF8'), p_key, 'sha256'), 'hex')
$$;
--;

-- Appends rows to the trail in one go (an import writes thousands): the
-- chain is computed row by row, stored with one insert, the head moved once.
-- The canonical text is xtrms_audit_hash's, written out: a call per row
-- would cost more than the hashing.
CREATE FUNCTION xtrms.xtrms_audit_append(p_workstation text, p_os_user text, p_actor text,
    p_events text[], p_subjects text[], p_details text[])
RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_key bytea;
    v_seq bigint;
    v_prev text;
    v_at constant text := to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"');
    v_ws constant text := xtrms_claim(p_workstation);
    v_os constant text := xtrms_claim(p_os_user);
    v_actor constant text := left(coalesce(p_actor, ''), 256);
    v_events text[];
    v_subjects text[];
    v_details text[];
    v_hashes text[];
    v_count integer := coalesce(cardinality(p_events), 0);
BEGIN
    IF v_count = 0 THEN
        RETURN;
    END IF;
    PERFORM xtrms_lock_head();
    SELECT h.seq, h.hash INTO v_seq, v_prev FROM xtrms_audit_head h WHERE h.id = 1 FOR UPDATE;
    SELECT s.audit_key INTO v_key FROM xtrms_secrets s WHERE s.id = 1;
    FOR i IN 1 .. v_count LOOP
        v_events[i] := left(coalesce(p_events[i], ''), 64);
        v_subjects[i] := left(coalesce(p_subjects[i], ''), 256);
        v_details[i] := left(coalesce(p_details[i], ''), 512);
        v_prev := encode(xtrms.hmac(convert_to(
                      v_prev
                      || '|' || length((v_seq + i)::text) || ':' || (v_seq + i)::text
                      || '|' || length(v_at) || ':' || v_at
                      || '|' || length(v_ws) || ':' || v_ws
                      || '|' || length(v_os) || ':' || v_os
                      || '|' || length(v_actor) || ':' || v_actor
                      || '|' || length(v_events[i]) || ':' || v_events[i]
                      || '|' || length(v_subjects[i]) || ':' || v_subjects[i]
                      || '|' || length(v_details[i]) || ':' || v_details[i], 'UTF8'), v_key, 'sha256'), 'hex');
        v_hashes[i] := v_prev;
    END LOOP;
    INSERT INTO xtrms_audit (seq, at_utc, workstation, os_user, actor, event, subject, detail, hash)
    SELECT v_seq + t.n, v_at, v_ws, v_os, v_actor, t.e, t.s, t.d, t.h
    FROM unnest(v_events, v_subjects, v_details, v_hashes) WITH ORDINALITY AS t(e, s, d, h, n);
    UPDATE xtrms_audit_head h SET seq = v_seq + v_count, hash = v_prev WHERE h.id = 1;
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_audit(p_workstation text, p_os_user text, p_actor text,
    p_event text, p_subject text, p_detail text)
RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    PERFORM xtrms_audit_append(p_workstation, p_os_user, p_actor,
        ARRAY[p_event], ARRAY[p_subject], ARRAY[p_detail]);
END
$$;
--;

-- The version-3 rows get their keyed hashes, in order, before the triggers
-- below forbid changing them. The old chain was checked above.
DO $$
DECLARE
    v_key bytea;
    v_prev text := '';
    v_seqs bigint[] := '{}';
    v_hashes text[] := '{}';
    v_row record;
BEGIN
    SELECT s.audit_key INTO v_key FROM xtrms.xtrms_secrets s WHERE s.id = 1;
    FOR v_row IN SELECT a.* FROM xtrms.xtrms_audit a ORDER BY a.seq LOOP
        v_prev := xtrms.xtrms_audit_hash(v_key, v_prev, v_row.seq, v_row.at_utc, v_row.workstation,
            v_row.os_user, v_row.actor, v_row.event, v_row.subject, v_row.detail);
        v_seqs := v_seqs || v_row.seq;
        v_hashes := v_hashes || v_prev;
    END LOOP;
    UPDATE xtrms.xtrms_audit a SET hash = t.h FROM unnest(v_seqs, v_hashes) AS t(s, h) WHERE a.seq = t.s;
    UPDATE xtrms.xtrms_audit_head h SET hash = v_prev WHERE h.id = 1;
END
$$;
--;

-- Rows of the trail are only ever added. The head only moves forward, onto
-- a row that exists with that hash; it is never removed.
CREATE FUNCTION xtrms.xtrms_audit_refuse() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RAISE EXCEPTION USING ERRCODE = 'XT001',
        MESSAGE = format('The audit trail cannot be changed (%s on %s); rows are only ever added.', TG_OP, TG_TABLE_NAME);
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_audit_head_guard() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    IF NEW.id <> OLD.id OR NEW.seq <= OLD.seq
       OR NOT EXISTS (SELECT 1 FROM xtrms_audit a WHERE a.seq = NEW.seq AND a.hash = NEW.hash) THEN
        RAISE EXCEPTION USING ERRCODE = 'XT001',
            MESSAGE = 'The audit head only moves forward, onto a row of the trail with its hash.';
    END IF;
    RETURN NEW;
END
$$;
--;

CREATE TRIGGER xtrms_audit_no_change BEFORE UPDATE OR DELETE ON xtrms.xtrms_audit
FOR EACH ROW EXECUTE FUNCTION xtrms.xtrms_audit_refuse();
--;

CREATE TRIGGER xtrms_audit_no_truncate BEFORE TRUNCATE ON xtrms.xtrms_audit
FOR EACH STATEMENT EXECUTE FUNCTION xtrms.xtrms_audit_refuse();
--;

CREATE TRIGGER xtrms_audit_head_forward BEFORE UPDATE ON xtrms.xtrms_audit_head
FOR EACH ROW EXECUTE FUNCTION xtrms.xtrms_audit_head_guard();
--;

CREATE TRIGGER xtrms_audit_head_no_delete BEFORE DELETE ON xtrms.xtrms_audit_head
FOR EACH ROW EXECUTE FUNCTION xtrms.xtrms_audit_refuse();
--;

CREATE TRIGGER xtrms_audit_head_no_truncate BEFORE TRUNCATE ON xtrms.xtrms_audit_head
FOR EACH STATEMENT EXECUTE FUNCTION xtrms.xtrms_audit_refuse();
--;

-- Sessions and permission -------------------------------------------------------

-- The current state of a token's user: a session counts only while it has
-- not expired and its user still exists, is enabled and is not locked (a
-- guest session only while guests are allowed). Checked at every call, so a
-- user who is demoted, disabled, locked or removed loses his power at once.
CREATE FUNCTION xtrms.xtrms_session_user(p_token text)
RETURNS TABLE(user_name text, guest boolean, role_id integer, super_user boolean)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
#variable_conflict use_column
BEGIN
    IF p_token IS NULL OR p_token = '' THEN
        RETURN;
    END IF;
    RETURN QUERY
    SELECT CASE WHEN s.guest THEN '' ELSE u.name::text END,
           s.guest,
           CASE WHEN s.guest THEN 0 ELSE u.role_id END,
           CASE WHEN s.guest THEN false ELSE coalesce(r.super_user <> 0, false) END
    FROM xtrms_sessions s
    CROSS JOIN xtrms_policy p
    LEFT JOIN xtrms_users u ON u.name = s.user_name
    LEFT JOIN xtrms_roles r ON r.id = u.role_id
    WHERE s.token_hash = xtrms_token_hash(p_token)
      AND p.id = 1
      AND s.expires > clock_timestamp()
      AND CASE WHEN s.guest THEN p.guest_allowed
               ELSE u.name IS NOT NULL AND u.disabled = 0
                    AND NOT (u.locked_until = -1 OR u.locked_until > xtrms_now()) END;
END
$$;
--;

-- Who may administer: a valid session of a user whose role is a super
-- user's, or, with no token at all, a superuser of the cluster (the
-- database administrator). Returns the actor the audit trail names.
CREATE FUNCTION xtrms.xtrms_admin_actor(p_token text) RETURNS text
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_user text;
BEGIN
    IF p_token IS NULL THEN
        IF coalesce((SELECT r.rolsuper FROM pg_roles r WHERE r.rolname = session_user), false) THEN
            RETURN 'dba:' || session_user;
        END IF;
    ELSE
        SELECT s.user_name INTO v_user FROM xtrms_session_user(p_token) s WHERE NOT s.guest AND s.super_user;
        IF FOUND THEN
            RETURN v_user;
        END IF;
    END IF;
    RAISE EXCEPTION USING ERRCODE = 'XT001', MESSAGE = 'not permitted';
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_new_session(p_user text, p_guest boolean, p_workstation text) RETURNS text
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_token constant text := encode(xtrms.gen_random_bytes(32), 'hex');
BEGIN
    DELETE FROM xtrms_sessions s WHERE s.expires <= clock_timestamp();
    INSERT INTO xtrms_sessions (token_hash, user_name, guest, created, expires, workstation)
    SELECT xtrms_token_hash(v_token), CASE WHEN p_guest THEN NULL ELSE p_user END, p_guest,
           clock_timestamp(), clock_timestamp() + make_interval(hours => p.session_hours),
           xtrms_claim(p_workstation)
    FROM xtrms_policy p WHERE p.id = 1;
    RETURN v_token;
END
$$;
--;

-- A failed login (or a wrong old password) of a user that exists: counted,
-- and the account locked when the count reaches the threshold. A lock that
-- has run out starts the count afresh. Returns the new count and whether the
-- account is locked now. Runs under the head lock.
CREATE FUNCTION xtrms.xtrms_count_failure(p_name text, OUT o_failed integer, OUT o_locked boolean)
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_now constant bigint := xtrms_now();
    v_policy xtrms_policy;
    v_until bigint := 0;
BEGIN
    SELECT p.* INTO v_policy FROM xtrms_policy p WHERE p.id = 1;
    SELECT CASE WHEN u.locked_until > 0 AND u.locked_until <= v_now THEN 1 ELSE u.failed_logins + 1 END
    INTO o_failed FROM xtrms_users u WHERE u.name = p_name;
    o_locked := v_policy.lockout_threshold > 0 AND o_failed >= v_policy.lockout_threshold;
    IF o_locked THEN
        v_until := CASE WHEN v_policy.lockout_seconds = 0 THEN -1
                        ELSE ceil(extract(epoch FROM clock_timestamp()))::bigint + v_policy.lockout_seconds END;
    END IF;
    UPDATE xtrms_users u SET failed_logins = o_failed, locked_until = v_until WHERE u.name = p_name;
END
$$;
--;

-- Input checks ---------------------------------------------------------------------

CREATE FUNCTION xtrms.xtrms_invalid(p_message text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RAISE EXCEPTION USING ERRCODE = 'XT004', MESSAGE = p_message;
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_check_user_name(p_name text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    IF NOT xtrms_valid_user_name(p_name) THEN
        PERFORM xtrms_invalid('The user name is not valid: it must have 1 to 256 characters, be in Unicode '
            'normal form C and hold no control or invisible formatting characters.');
    END IF;
END
$$;
--;

-- An administrative function on an existing user finds it as stored; a
-- name that is not there is either invalid (XT004) or unknown (XT003).
CREATE FUNCTION xtrms.xtrms_require_user(p_name text, p_message text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM xtrms_users u WHERE u.name = p_name) THEN
        PERFORM xtrms_check_user_name(p_name);
        RAISE EXCEPTION USING ERRCODE = 'XT003', MESSAGE = replace(p_message, '%user%', p_name);
    END IF;
END
$$;
--;

-- The client derives the key (PBKDF2-HMAC-SHA256); the server keeps the salt,
-- the count and the SHA-256 of the key.
CREATE FUNCTION xtrms.xtrms_check_password_input(p_salt_hex text, p_iterations integer, p_key_hex text)
RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    IF p_salt_hex IS NULL OR p_salt_hex !~ '^[0-9A-Fa-f]{32}$' THEN
        PERFORM xtrms_invalid('The salt must be 32 hexadecimal digits (16 bytes).');
    END IF;
    IF p_iterations IS NULL OR p_iterations < 1000 OR p_iterations > 10000000 THEN
        PERFORM xtrms_invalid('The iteration count must be between 1000 and 10000000.');
    END IF;
    IF p_key_hex IS NULL OR p_key_hex !~ '^[0-9A-Fa-f]{64}$' THEN
        PERFORM xtrms_invalid('The derived key must be 64 hexadecimal digits (32 bytes).');
    END IF;
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_key_hash(p_key_hex text) RETURNS text
LANGUAGE plpgsql IMMUTABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    IF p_key_hex IS NULL OR p_key_hex !~ '^[0-9A-Fa-f]{64}$' THEN
        RETURN NULL;
    END IF;
    RETURN encode(sha256(decode(p_key_hex, 'hex')), 'hex');
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_json_int(p_value jsonb, p_what text) RETURNS integer
LANGUAGE plpgsql IMMUTABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    IF jsonb_typeof(p_value) IS DISTINCT FROM 'number' OR (p_value #>> '{}') !~ '^-?[0-9]{1,9}$' THEN
        PERFORM xtrms_invalid(format('%s must be a whole number.', p_what));
    END IF;
    RETURN (p_value #>> '{}')::integer;
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_json_bool(p_value jsonb, p_what text) RETURNS boolean
LANGUAGE plpgsql IMMUTABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    IF jsonb_typeof(p_value) IS DISTINCT FROM 'boolean' THEN
        PERFORM xtrms_invalid(format('%s must be true or false.', p_what));
    END IF;
    RETURN (p_value #>> '{}')::boolean;
END
$$;
--;

-- The policy with the keys of p_policy applied; unknown keys and values out
-- of range are refused.
CREATE FUNCTION xtrms.xtrms_policy_merge(p_base xtrms.xtrms_policy, p_policy jsonb) RETURNS xtrms.xtrms_policy
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_policy xtrms_policy := p_base;
    v_key text;
    v_value jsonb;
BEGIN
    IF p_policy IS NULL THEN
        RETURN v_policy;
    END IF;
    IF jsonb_typeof(p_policy) <> 'object' THEN
        PERFORM xtrms_invalid('The policy must be a JSON object.');
    END IF;
    FOR v_key, v_value IN SELECT e.key, e.value FROM jsonb_each(p_policy) e ORDER BY e.key LOOP
        CASE v_key
        WHEN 'lockout_threshold' THEN
            v_policy.lockout_threshold := xtrms_json_int(v_value, 'lockout_threshold');
            IF v_policy.lockout_threshold < 0 THEN
                PERFORM xtrms_invalid('lockout_threshold must not be negative.');
            END IF;
        WHEN 'lockout_seconds' THEN
            v_policy.lockout_seconds := xtrms_json_int(v_value, 'lockout_seconds');
            IF v_policy.lockout_seconds < 0 THEN
                PERFORM xtrms_invalid('lockout_seconds must not be negative.');
            END IF;
        WHEN 'guest_allowed' THEN
            v_policy.guest_allowed := xtrms_json_bool(v_value, 'guest_allowed');
        WHEN 'guest_rights' THEN
            IF jsonb_typeof(v_value) = 'array' THEN
                IF EXISTS (SELECT 1 FROM jsonb_array_elements(v_value) e
                           WHERE jsonb_typeof(e) <> 'number' OR (e #>> '{}') !~ '^[0-9]{1,9}$') THEN
                    PERFORM xtrms_invalid('guest_rights must list right numbers.');
                END IF;
                v_policy.guest_rights := coalesce((SELECT string_agg(e #>> '{}', ';' ORDER BY o)
                                                   FROM jsonb_array_elements(v_value) WITH ORDINALITY AS t(e, o)), '');
            ELSIF jsonb_typeof(v_value) = 'string' AND (v_value #>> '{}') ~ '^([0-9]{1,9}(;[0-9]{1,9})*)?$' THEN
                v_policy.guest_rights := v_value #>> '{}';
            ELSE
                PERFORM xtrms_invalid('guest_rights must be right numbers separated by semicolons.');
            END IF;
        WHEN 'report_unknown' THEN
            v_policy.report_unknown := xtrms_json_bool(v_value, 'report_unknown');
        WHEN 'min_password_length' THEN
            v_policy.min_password_length := xtrms_json_int(v_value, 'min_password_length');
            IF v_policy.min_password_length < 0 OR v_policy.min_password_length > 1024 THEN
                PERFORM xtrms_invalid('min_password_length must be between 0 and 1024.');
            END IF;
        WHEN 'iterations' THEN
            v_policy.iterations := xtrms_json_int(v_value, 'iterations');
            IF v_policy.iterations < 1000 OR v_policy.iterations > 10000000 THEN
                PERFORM xtrms_invalid('The iteration count must be between 1000 and 10000000.');
            END IF;
        WHEN 'session_hours' THEN
            v_policy.session_hours := xtrms_json_int(v_value, 'session_hours');
            IF v_policy.session_hours < 1 OR v_policy.session_hours > 8784 THEN
                PERFORM xtrms_invalid('session_hours must be between 1 and 8784.');
            END IF;
        ELSE
            PERFORM xtrms_invalid(format('The policy has no setting %s.', v_key));
        END CASE;
    END LOOP;
    RETURN v_policy;
END
$$;
--;

-- Open to every workstation ------------------------------------------------------

CREATE FUNCTION xtrms.schema_version() RETURNS integer
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN (SELECT s.version FROM xtrms_schema s WHERE s.id = 1);
END
$$;
--;

-- The host application's rights, roles and policy, written once: on the
-- first start, while the store has neither rights nor roles.
CREATE FUNCTION xtrms.define(p_rights jsonb, p_roles jsonb, p_policy jsonb) RETURNS integer
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_policy xtrms_policy;
    v_item jsonb;
    v_right jsonb;
    v_n integer := 0;
    v_rights integer;
    v_roles integer;
    v_id integer;
BEGIN
    -- Every start of every workstation asks; only the first one writes.
    IF EXISTS (SELECT 1 FROM xtrms_rights) OR EXISTS (SELECT 1 FROM xtrms_roles) THEN
        RETURN 0;
    END IF;
    PERFORM xtrms_lock_head();
    IF EXISTS (SELECT 1 FROM xtrms_rights) OR EXISTS (SELECT 1 FROM xtrms_roles) THEN
        RETURN 0;
    END IF;
    IF jsonb_typeof(p_rights) IS DISTINCT FROM 'array' OR jsonb_typeof(p_roles) IS DISTINCT FROM 'array' THEN
        PERFORM xtrms_invalid('The rights and the roles must be JSON arrays.');
    END IF;
    FOR v_item IN SELECT e FROM jsonb_array_elements(p_rights) e LOOP
        v_n := v_n + 1;
        IF jsonb_typeof(v_item) <> 'object' OR jsonb_typeof(v_item -> 'name') IS DISTINCT FROM 'string'
           OR length(v_item ->> 'name') NOT BETWEEN 1 AND 200 THEN
            PERFORM xtrms_invalid(format('Right %s must have an id and a name of 1 to 200 characters.', v_n));
        END IF;
        v_id := xtrms_json_int(v_item -> 'id', format('The id of right %s', v_n));
        IF EXISTS (SELECT 1 FROM xtrms_rights r WHERE r.id = v_id) THEN
            PERFORM xtrms_invalid(format('The right %s is defined twice.', v_id));
        END IF;
        INSERT INTO xtrms_rights (id, name) VALUES (v_id, v_item ->> 'name');
    END LOOP;
    v_n := 0;
    FOR v_item IN SELECT e FROM jsonb_array_elements(p_roles) e LOOP
        v_n := v_n + 1;
        IF jsonb_typeof(v_item) <> 'object' OR jsonb_typeof(v_item -> 'name') IS DISTINCT FROM 'string'
           OR length(v_item ->> 'name') NOT BETWEEN 1 AND 200
           OR jsonb_typeof(coalesce(v_item -> 'rights', '[]')) <> 'array' THEN
            PERFORM xtrms_invalid(format('Role %s must have an id, a name of 1 to 200 characters and a list of rights.', v_n));
        END IF;
        v_id := xtrms_json_int(v_item -> 'id', format('The id of role %s', v_n));
        IF EXISTS (SELECT 1 FROM xtrms_roles r WHERE r.id = v_id) THEN
            PERFORM xtrms_invalid(format('The role %s is defined twice.', v_id));
        END IF;
        INSERT INTO xtrms_roles (id, name, super_user)
        VALUES (v_id, v_item ->> 'name',
                CASE WHEN v_item ? 'super_user'
                     THEN xtrms_json_bool(v_item -> 'super_user', format('super_user of role %s', v_id))::integer
                     ELSE 0 END);
        FOR v_right IN SELECT e FROM jsonb_array_elements(coalesce(v_item -> 'rights', '[]')) e LOOP
            v_rights := xtrms_json_int(v_right, format('A right of role %s', v_id));
            IF NOT EXISTS (SELECT 1 FROM xtrms_rights r WHERE r.id = v_rights) THEN
                RAISE EXCEPTION USING ERRCODE = 'XT003',
                    MESSAGE = format('There is no right %s for role %s.', v_rights, v_id);
            END IF;
            INSERT INTO xtrms_role_rights (role_id, right_id) VALUES (v_id, v_rights) ON CONFLICT DO NOTHING;
        END LOOP;
    END LOOP;
    SELECT p.* INTO v_policy FROM xtrms_policy p WHERE p.id = 1;
    v_policy := xtrms_policy_merge(v_policy, p_policy);
    UPDATE xtrms_policy p
    SET lockout_threshold = v_policy.lockout_threshold, lockout_seconds = v_policy.lockout_seconds,
        guest_allowed = v_policy.guest_allowed, guest_rights = v_policy.guest_rights,
        report_unknown = v_policy.report_unknown, min_password_length = v_policy.min_password_length,
        iterations = v_policy.iterations, session_hours = v_policy.session_hours, defined = true
    WHERE p.id = 1;
    SELECT count(*) INTO v_rights FROM xtrms_rights;
    SELECT count(*) INTO v_roles FROM xtrms_roles;
    PERFORM xtrms_audit('', '', '', 'definitions-written', '', format('%s rights, %s roles', v_rights, v_roles));
    RETURN 1;
END
$$;
--;

CREATE FUNCTION xtrms.rights() RETURNS TABLE(id integer, name text)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN QUERY SELECT r.id, r.name::text FROM xtrms_rights r ORDER BY r.id;
END
$$;
--;

CREATE FUNCTION xtrms.roles() RETURNS TABLE(id integer, name text, super_user boolean, rights text)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN QUERY
    SELECT r.id, r.name::text, r.super_user <> 0,
           coalesce((SELECT string_agg(rr.right_id::text, ';' ORDER BY rr.right_id)
                     FROM xtrms_role_rights rr WHERE rr.role_id = r.id), '')
    FROM xtrms_roles r ORDER BY r.id;
END
$$;
--;

CREATE FUNCTION xtrms.policy()
RETURNS TABLE(lockout_threshold integer, lockout_seconds integer, guest_allowed boolean, guest_rights text,
              report_unknown boolean, min_password_length integer, iterations integer, session_hours integer)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN QUERY
    SELECT p.lockout_threshold, p.lockout_seconds, p.guest_allowed, p.guest_rights, p.report_unknown,
           p.min_password_length, p.iterations, p.session_hours
    FROM xtrms_policy p WHERE p.id = 1;
END
$$;
--;

-- Salt and count for the client's key derivation. A name that does not
-- exist, is not valid or has no password gets a salt made from the name
-- with a secret key, and the policy's count: the same every time, so the
-- answer does not tell which names exist.
CREATE FUNCTION xtrms.login_params(p_name text) RETURNS TABLE(salt_hex text, iterations integer)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    IF xtrms_valid_user_name(p_name) THEN
        RETURN QUERY
        SELECT u.password_salt::text, u.password_iterations
        FROM xtrms_users u
        WHERE u.name = p_name AND u.password_hash IS NOT NULL AND u.password_salt IS NOT NULL
          AND u.password_iterations IS NOT NULL;
        IF FOUND THEN
            RETURN;
        END IF;
    END IF;
    RETURN QUERY SELECT left(xtrms_name_key(p_name), 32), p.iterations FROM xtrms_policy p WHERE p.id = 1;
END
$$;
--;

-- A login. Everything runs under the head lock, so failures on several
-- workstations at once all count. A name that is unknown (or not valid)
-- counts and locks like a real one, under its keyed hash, and its refusal
-- is recorded without the typed name: it may be a password typed into the
-- wrong field.
CREATE FUNCTION xtrms.login(p_name text, p_key_hex text, p_workstation text, p_os_user text)
RETURNS TABLE(result integer, token text, user_name text, role_id integer, super_user boolean, rights text)
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
#variable_conflict use_column
DECLARE
    v_policy xtrms_policy;
    v_user xtrms_users;
    v_now bigint;
    v_failed integer;
    v_locked boolean;
    v_name_key text;
    v_until bigint;
    v_token text;
BEGIN
    PERFORM xtrms_lock_head();
    SELECT p.* INTO v_policy FROM xtrms_policy p WHERE p.id = 1;
    v_now := xtrms_now();

    IF coalesce(p_name, '') = '' AND coalesce(p_key_hex, '') = '' THEN
        IF NOT v_policy.guest_allowed THEN
            PERFORM xtrms_audit(p_workstation, p_os_user, '', 'login-refused', '', '9 guest not allowed');
            RETURN QUERY SELECT 9, NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
            RETURN;
        END IF;
        v_token := xtrms_new_session(NULL, true, p_workstation);
        PERFORM xtrms_audit(p_workstation, p_os_user, '(guest)', 'guest-login', '', '');
        RETURN QUERY SELECT 1, v_token, ''::text, 0, false, v_policy.guest_rights;
        RETURN;
    END IF;

    IF xtrms_valid_user_name(p_name) THEN
        SELECT u.* INTO v_user FROM xtrms_users u WHERE u.name = p_name;
    END IF;

    IF v_user.name IS NULL THEN
        v_name_key := xtrms_name_key(p_name);
        SELECT f.failed_logins, f.locked_until INTO v_failed, v_until
        FROM xtrms_name_failures f WHERE f.name_key = v_name_key;
        IF v_until = -1 OR v_until > v_now THEN
            PERFORM xtrms_audit(p_workstation, p_os_user, '', 'login-refused', '', '4 locked');
            RETURN QUERY SELECT 4, NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
            RETURN;
        END IF;
        v_failed := CASE WHEN v_until > 0 THEN 1 ELSE coalesce(v_failed, 0) + 1 END;
        v_locked := v_policy.lockout_threshold > 0 AND v_failed >= v_policy.lockout_threshold;
        v_until := CASE WHEN NOT v_locked THEN 0
                        WHEN v_policy.lockout_seconds = 0 THEN -1
                        ELSE ceil(extract(epoch FROM clock_timestamp()))::bigint + v_policy.lockout_seconds END;
        INSERT INTO xtrms_name_failures AS f (name_key, failed_logins, locked_until)
        VALUES (v_name_key, v_failed, v_until)
        ON CONFLICT (name_key) DO UPDATE SET failed_logins = EXCLUDED.failed_logins,
                                             locked_until = EXCLUDED.locked_until;
        PERFORM xtrms_audit(p_workstation, p_os_user, '', 'login-refused', '', '2 unknown user');
        RETURN QUERY SELECT CASE WHEN v_locked THEN 4 WHEN v_policy.report_unknown THEN 3 ELSE 2 END,
                            NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
        RETURN;
    END IF;

    IF v_user.locked_until = -1 OR v_user.locked_until > v_now THEN
        PERFORM xtrms_audit(p_workstation, p_os_user, '', 'login-refused', v_user.name, '4 locked');
        RETURN QUERY SELECT 4, NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
        RETURN;
    END IF;

    IF v_user.password_hash IS NULL OR xtrms_key_hash(p_key_hex) IS DISTINCT FROM v_user.password_hash THEN
        SELECT c.o_failed, c.o_locked INTO v_failed, v_locked FROM xtrms_count_failure(v_user.name) c;
        PERFORM xtrms_audit_append(p_workstation, p_os_user, '',
            CASE WHEN v_locked THEN ARRAY['login-refused', 'user-locked'] ELSE ARRAY['login-refused'] END,
            ARRAY[v_user.name, v_user.name]::text[],
            ARRAY[CASE WHEN v_locked THEN '2 wrong password, now locked' ELSE '2 wrong password' END,
                  v_failed || ' failed logins']);
        RETURN QUERY SELECT CASE WHEN v_locked THEN 4 ELSE 2 END,
                            NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
        RETURN;
    END IF;

    IF v_user.disabled <> 0 THEN
        PERFORM xtrms_audit(p_workstation, p_os_user, '', 'login-refused', v_user.name, '11 disabled');
        RETURN QUERY SELECT 11, NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
        RETURN;
    END IF;

    UPDATE xtrms_users u SET failed_logins = 0, locked_until = 0 WHERE u.name = v_user.name;
    v_token := xtrms_new_session(v_user.name, false, p_workstation);
    PERFORM xtrms_audit(p_workstation, p_os_user, v_user.name, 'login', v_user.name, '');
    RETURN QUERY
    SELECT 1, v_token, v_user.name::text, v_user.role_id,
           coalesce((SELECT r.super_user <> 0 FROM xtrms_roles r WHERE r.id = v_user.role_id), false),
           xtrms_user_rights_text(v_user.name);
END
$$;
--;

CREATE FUNCTION xtrms.logout(p_token text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    DELETE FROM xtrms_sessions s WHERE s.token_hash = xtrms_token_hash(p_token);
END
$$;
--;

CREATE FUNCTION xtrms.session(p_token text)
RETURNS TABLE(user_name text, role_id integer, super_user boolean, guest boolean, rights text)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
#variable_conflict use_column
BEGIN
    RETURN QUERY
    SELECT s.user_name, s.role_id, s.super_user, s.guest,
           CASE WHEN s.guest THEN (SELECT p.guest_rights FROM xtrms_policy p WHERE p.id = 1)
                ELSE xtrms_user_rights_text(s.user_name) END
    FROM xtrms_session_user(p_token) s;
END
$$;
--;

-- Administration --------------------------------------------------------------------

CREATE FUNCTION xtrms.list_users(p_token text)
RETURNS TABLE(name text, full_name text, role_id integer, has_password boolean, failed_logins integer,
              locked_until bigint, disabled boolean, rights text)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
#variable_conflict use_column
BEGIN
    PERFORM xtrms_admin_actor(p_token);
    RETURN QUERY
    SELECT u.name::text, u.full_name::text, u.role_id, u.password_hash IS NOT NULL, u.failed_logins,
           u.locked_until, u.disabled <> 0, coalesce(ur.rights, '')
    FROM xtrms_users u
    LEFT JOIN (SELECT x.user_name, string_agg(x.right_id::text, ';' ORDER BY x.right_id) AS rights
               FROM xtrms_user_rights x GROUP BY x.user_name) ur ON ur.user_name = u.name
    ORDER BY u.name;
END
$$;
--;

-- The administrator's pending changes, in order, all or nothing. Returns how
-- many of them changed something (a right that is already so changes
-- nothing and is not recorded).
CREATE FUNCTION xtrms.save_changes(p_token text, p_changes jsonb, p_workstation text, p_os_user text)
RETURNS integer
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_actor text;
    v_self text;
    v_change jsonb;
    v_n integer := 0;
    v_applied integer := 0;
    v_user text;
    v_role integer;
    v_role_name text;
    v_right integer;
    v_allowed boolean;
    v_full_name text;
    v_was_super boolean;
    v_events text[] := '{}';
    v_subjects text[] := '{}';
    v_details text[] := '{}';
BEGIN
    PERFORM xtrms_lock_head();
    v_actor := xtrms_admin_actor(p_token);
    v_self := CASE WHEN p_token IS NOT NULL THEN v_actor END;
    IF jsonb_typeof(p_changes) IS DISTINCT FROM 'array' THEN
        PERFORM xtrms_invalid('The changes must be a JSON array.');
    END IF;
    FOR v_change IN SELECT e FROM jsonb_array_elements(p_changes) e LOOP
        v_n := v_n + 1;
        IF jsonb_typeof(v_change) <> 'object' OR jsonb_typeof(v_change -> 'user') IS DISTINCT FROM 'string' THEN
            PERFORM xtrms_invalid(format('Change %s must be an object with a user name.', v_n));
        END IF;
        v_user := v_change ->> 'user';
        CASE v_change ->> 'op'
        WHEN 'create' THEN
            PERFORM xtrms_check_user_name(v_user);
            v_full_name := coalesce(v_change ->> 'full_name', '');
            IF NOT xtrms_valid_full_name(v_full_name) THEN
                PERFORM xtrms_invalid(format('The full name of %s must have at most 256 characters and no control characters.', v_user));
            END IF;
            v_role := xtrms_json_int(v_change -> 'role', format('The role of change %s', v_n));
            SELECT r.name INTO v_role_name FROM xtrms_roles r WHERE r.id = v_role;
            IF NOT FOUND THEN
                RAISE EXCEPTION USING ERRCODE = 'XT003', MESSAGE = format('There is no role %s.', v_role);
            END IF;
            IF EXISTS (SELECT 1 FROM xtrms_users u WHERE u.name = v_user) THEN
                RAISE EXCEPTION USING ERRCODE = 'XT003',
                    MESSAGE = format('The user %s could not be created: it exists already.', v_user);
            END IF;
            INSERT INTO xtrms_users (name, full_name, role_id) VALUES (v_user, v_full_name, v_role);
            INSERT INTO xtrms_user_rights (user_name, right_id)
            SELECT v_user, rr.right_id FROM xtrms_role_rights rr WHERE rr.role_id = v_role;
            v_events := v_events || 'user-created'::text;
            v_subjects := v_subjects || v_user;
            v_details := v_details || ('role ' || v_role_name);
            v_applied := v_applied + 1;
        WHEN 'remove' THEN
            PERFORM xtrms_require_user(v_user, 'The user %user% was removed meanwhile; reload the users.');
            IF v_user = v_self THEN
                RAISE EXCEPTION USING ERRCODE = 'XT002', MESSAGE = 'You cannot remove yourself.';
            END IF;
            SELECT u.disabled = 0 AND r.super_user <> 0 INTO v_was_super
            FROM xtrms_users u JOIN xtrms_roles r ON r.id = u.role_id WHERE u.name = v_user;
            DELETE FROM xtrms_user_rights ur WHERE ur.user_name = v_user;
            DELETE FROM xtrms_users u WHERE u.name = v_user;
            IF coalesce(v_was_super, false) AND xtrms_enabled_super_users() = 0 THEN
                RAISE EXCEPTION USING ERRCODE = 'XT002',
                    MESSAGE = format('The user %s is the last enabled super user and cannot be removed.', v_user);
            END IF;
            v_events := v_events || 'user-removed'::text;
            v_subjects := v_subjects || v_user;
            v_details := v_details || ''::text;
            v_applied := v_applied + 1;
        WHEN 'right' THEN
            v_right := xtrms_json_int(v_change -> 'right', format('The right of change %s', v_n));
            v_allowed := xtrms_json_bool(v_change -> 'allowed', format('allowed of change %s', v_n));
            IF NOT EXISTS (SELECT 1 FROM xtrms_rights r WHERE r.id = v_right) THEN
                RAISE EXCEPTION USING ERRCODE = 'XT003', MESSAGE = format('There is no right %s.', v_right);
            END IF;
            PERFORM xtrms_require_user(v_user, 'The user %user% was removed meanwhile; reload the users.');
            IF v_allowed = EXISTS (SELECT 1 FROM xtrms_user_rights ur
                                   WHERE ur.user_name = v_user AND ur.right_id = v_right) THEN
                CONTINUE;
            END IF;
            IF v_allowed THEN
                INSERT INTO xtrms_user_rights (user_name, right_id) VALUES (v_user, v_right);
            ELSE
                DELETE FROM xtrms_user_rights ur WHERE ur.user_name = v_user AND ur.right_id = v_right;
            END IF;
            v_events := v_events || CASE WHEN v_allowed THEN 'right-granted' ELSE 'right-withdrawn' END;
            v_subjects := v_subjects || v_user;
            v_details := v_details || v_right::text;
            v_applied := v_applied + 1;
        ELSE
            PERFORM xtrms_invalid(format('Change %s has no known op (create, remove or right).', v_n));
        END CASE;
    END LOOP;
    PERFORM xtrms_audit_append(p_workstation, p_os_user, v_actor, v_events, v_subjects, v_details);
    RETURN v_applied;
END
$$;
--;

CREATE FUNCTION xtrms.add_user(p_token text, p_name text, p_full_name text, p_role integer, p_salt_hex text,
    p_iterations integer, p_key_hex text, p_workstation text, p_os_user text)
RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_actor text;
    v_role_name text;
    v_password constant boolean := coalesce(p_key_hex, '') <> '';
BEGIN
    PERFORM xtrms_lock_head();
    v_actor := xtrms_admin_actor(p_token);
    PERFORM xtrms_check_user_name(p_name);
    IF NOT xtrms_valid_full_name(coalesce(p_full_name, '')) THEN
        PERFORM xtrms_invalid(format('The full name of %s must have at most 256 characters and no control characters.', p_name));
    END IF;
    IF v_password THEN
        PERFORM xtrms_check_password_input(p_salt_hex, p_iterations, p_key_hex);
    END IF;
    SELECT r.name INTO v_role_name FROM xtrms_roles r WHERE r.id = p_role;
    IF NOT FOUND THEN
        RAISE EXCEPTION USING ERRCODE = 'XT003', MESSAGE = format('There is no role %s.', p_role);
    END IF;
    IF EXISTS (SELECT 1 FROM xtrms_users u WHERE u.name = p_name) THEN
        RAISE EXCEPTION USING ERRCODE = 'XT003', MESSAGE = format('The user %s exists already.', p_name);
    END IF;
    INSERT INTO xtrms_users (name, full_name, role_id, password_hash, password_salt, password_iterations)
    VALUES (p_name, coalesce(p_full_name, ''), p_role,
            CASE WHEN v_password THEN xtrms_key_hash(p_key_hex) END,
            CASE WHEN v_password THEN lower(p_salt_hex) END,
            CASE WHEN v_password THEN p_iterations END);
    INSERT INTO xtrms_user_rights (user_name, right_id)
    SELECT p_name, rr.right_id FROM xtrms_role_rights rr WHERE rr.role_id = p_role;
    PERFORM xtrms_audit_append(p_workstation, p_os_user, v_actor,
        CASE WHEN v_password THEN ARRAY['user-created', 'password-set'] ELSE ARRAY['user-created'] END,
        ARRAY[p_name, p_name], ARRAY['role ' || v_role_name, '']);
END
$$;
--;

CREATE FUNCTION xtrms.set_password(p_token text, p_name text, p_salt_hex text, p_iterations integer,
    p_key_hex text, p_workstation text, p_os_user text)
RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_actor text;
BEGIN
    PERFORM xtrms_lock_head();
    v_actor := xtrms_admin_actor(p_token);
    PERFORM xtrms_check_password_input(p_salt_hex, p_iterations, p_key_hex);
    PERFORM xtrms_require_user(p_name, 'There is no user %user%.');
    UPDATE xtrms_users u
    SET password_hash = xtrms_key_hash(p_key_hex), password_salt = lower(p_salt_hex),
        password_iterations = p_iterations
    WHERE u.name = p_name;
    PERFORM xtrms_audit(p_workstation, p_os_user, v_actor, 'password-set', p_name, '');
END
$$;
--;

-- Any logged-in user (not a guest) changes his own password by proving the
-- old one; a wrong old password counts as a failed login.
CREATE FUNCTION xtrms.change_own_password(p_token text, p_old_key_hex text, p_salt_hex text, p_iterations integer,
    p_key_hex text, p_workstation text, p_os_user text)
RETURNS integer
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_user text;
    v_hash text;
    v_failed integer;
    v_locked boolean;
BEGIN
    PERFORM xtrms_lock_head();
    SELECT s.user_name INTO v_user FROM xtrms_session_user(p_token) s WHERE NOT s.guest;
    IF NOT FOUND THEN
        RAISE EXCEPTION USING ERRCODE = 'XT001', MESSAGE = 'not permitted';
    END IF;
    PERFORM xtrms_check_password_input(p_salt_hex, p_iterations, p_key_hex);
    SELECT u.password_hash INTO v_hash FROM xtrms_users u WHERE u.name = v_user;
    IF v_hash IS NULL OR xtrms_key_hash(p_old_key_hex) IS DISTINCT FROM v_hash THEN
        SELECT c.o_failed, c.o_locked INTO v_failed, v_locked FROM xtrms_count_failure(v_user) c;
        PERFORM xtrms_audit_append(p_workstation, p_os_user, v_user,
            CASE WHEN v_locked THEN ARRAY['password-change-refused', 'user-locked']
                 ELSE ARRAY['password-change-refused'] END,
            ARRAY[v_user, v_user], ARRAY['wrong old password', v_failed || ' failed logins']);
        RETURN 1;
    END IF;
    UPDATE xtrms_users u
    SET password_hash = xtrms_key_hash(p_key_hex), password_salt = lower(p_salt_hex),
        password_iterations = p_iterations, failed_logins = 0
    WHERE u.name = v_user;
    PERFORM xtrms_audit(p_workstation, p_os_user, v_user, 'password-changed', v_user, '');
    RETURN 0;
END
$$;
--;

-- A login found the user's hash made with fewer iterations than the policy
-- asks for: the workstation, which has just derived the old key, derives a new
-- one with a fresh salt and the policy's count. Proven with the old key; a
-- mismatch (a password changed meanwhile) leaves everything as it is and is
-- no failed login.
CREATE FUNCTION xtrms.rehash(p_token text, p_old_key_hex text, p_salt_hex text, p_iterations integer,
    p_key_hex text, p_workstation text, p_os_user text)
RETURNS integer
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_user text;
    v_hash text;
    v_iterations integer;
BEGIN
    PERFORM xtrms_lock_head();
    SELECT s.user_name INTO v_user FROM xtrms_session_user(p_token) s WHERE NOT s.guest;
    IF NOT FOUND THEN
        RAISE EXCEPTION USING ERRCODE = 'XT001', MESSAGE = 'not permitted';
    END IF;
    PERFORM xtrms_check_password_input(p_salt_hex, p_iterations, p_key_hex);
    SELECT u.password_hash, u.password_iterations INTO v_hash, v_iterations
    FROM xtrms_users u WHERE u.name = v_user;
    IF v_hash IS NULL OR xtrms_key_hash(p_old_key_hex) IS DISTINCT FROM v_hash OR p_iterations <= v_iterations
       OR p_iterations < (SELECT p.iterations FROM xtrms_policy p) THEN
        RETURN 0;
    END IF;
    UPDATE xtrms_users u
    SET password_hash = xtrms_key_hash(p_key_hex), password_salt = lower(p_salt_hex), password_iterations = p_iterations
    WHERE u.name = v_user;
    PERFORM xtrms_audit(p_workstation, p_os_user, v_user, 'password-rehashed', v_user,
        v_iterations || ' to ' || p_iterations || ' iterations');
    RETURN 1;
END
$$;
--;

CREATE FUNCTION xtrms.unlock(p_token text, p_name text, p_workstation text, p_os_user text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_actor text;
BEGIN
    PERFORM xtrms_lock_head();
    v_actor := xtrms_admin_actor(p_token);
    PERFORM xtrms_require_user(p_name, 'There is no user %user%.');
    UPDATE xtrms_users u SET failed_logins = 0, locked_until = 0 WHERE u.name = p_name;
    PERFORM xtrms_audit(p_workstation, p_os_user, v_actor, 'user-unlocked', p_name, '');
END
$$;
--;

CREATE FUNCTION xtrms.set_disabled(p_token text, p_name text, p_disabled boolean, p_workstation text,
    p_os_user text)
RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_actor text;
    v_before bigint;
BEGIN
    PERFORM xtrms_lock_head();
    v_actor := xtrms_admin_actor(p_token);
    IF p_disabled IS NULL THEN
        PERFORM xtrms_invalid('Say whether the user is to be disabled (true) or enabled (false).');
    END IF;
    PERFORM xtrms_require_user(p_name, 'There is no user %user%.');
    IF p_disabled AND p_token IS NOT NULL AND p_name = v_actor THEN
        RAISE EXCEPTION USING ERRCODE = 'XT002', MESSAGE = 'You cannot disable yourself.';
    END IF;
    v_before := xtrms_enabled_super_users();
    UPDATE xtrms_users u SET disabled = p_disabled::integer WHERE u.name = p_name;
    IF v_before > 0 AND xtrms_enabled_super_users() = 0 THEN
        RAISE EXCEPTION USING ERRCODE = 'XT002',
            MESSAGE = format('The user %s is the last enabled super user and cannot be disabled.', p_name);
    END IF;
    PERFORM xtrms_audit(p_workstation, p_os_user, v_actor,
        CASE WHEN p_disabled THEN 'user-disabled' ELSE 'user-enabled' END, p_name, '');
END
$$;
--;

-- Users from a list (the CSV import): every row is checked before anything
-- is written; then set-based, so that ten thousand rows take well under a
-- second. Missing users are created without a password; existing ones get
-- the row's full name, role, state and exactly its rights.
CREATE FUNCTION xtrms.import_users(p_token text, p_rows jsonb, p_workstation text, p_os_user text)
RETURNS integer
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_actor text;
    v_before bigint;
    v_problem record;
    v_rows xtrms_import_row[];
    v_count integer;
BEGIN
    PERFORM xtrms_lock_head();
    v_actor := xtrms_admin_actor(p_token);
    IF jsonb_typeof(p_rows) IS DISTINCT FROM 'array' THEN
        PERFORM xtrms_invalid('The rows must be a JSON array.');
    END IF;

    SELECT c.n, c.code, c.problem INTO v_problem
    FROM (
        SELECT r.n,
               CASE WHEN r.problem IS NOT NULL THEN 'XT004'
                    WHEN NOT EXISTS (SELECT 1 FROM xtrms_roles ro WHERE ro.id = (r.v ->> 'role')::integer)
                      OR EXISTS (SELECT 1 FROM jsonb_array_elements(r.v -> 'rights') e
                                 WHERE NOT EXISTS (SELECT 1 FROM xtrms_rights ri WHERE ri.id = (e #>> '{}')::integer))
                    THEN 'XT003' END AS code,
               coalesce(r.problem,
                   CASE WHEN NOT EXISTS (SELECT 1 FROM xtrms_roles ro WHERE ro.id = (r.v ->> 'role')::integer)
                        THEN format('there is no role %s.', r.v ->> 'role')
                        ELSE format('there is no right %s.',
                            (SELECT e #>> '{}' FROM jsonb_array_elements(r.v -> 'rights') WITH ORDINALITY AS t(e, o)
                             WHERE NOT EXISTS (SELECT 1 FROM xtrms_rights ri WHERE ri.id = (e #>> '{}')::integer)
                             ORDER BY o LIMIT 1)) END) AS problem
        FROM (
            SELECT x.n, x.v,
                   CASE WHEN jsonb_typeof(x.v) <> 'object' THEN 'each row must be an object.'
                        WHEN jsonb_typeof(x.v -> 'user') IS DISTINCT FROM 'string'
                             OR NOT xtrms_valid_user_name(x.v ->> 'user')
                        THEN 'the user name is not valid: it must have 1 to 256 characters, be in Unicode normal '
                             'form C and hold no control or invisible formatting characters.'
                        WHEN jsonb_typeof(x.v -> 'full_name') IS DISTINCT FROM 'string'
                             OR NOT xtrms_valid_full_name(x.v ->> 'full_name')
                        THEN 'the full name must have at most 256 characters and no control characters.'
                        WHEN jsonb_typeof(x.v -> 'role') IS DISTINCT FROM 'number'
                             OR (x.v ->> 'role') !~ '^-?[0-9]{1,9}$'
                        THEN 'the role must be a whole number.'
                        WHEN jsonb_typeof(x.v -> 'disabled') IS DISTINCT FROM 'boolean'
                        THEN 'disabled must be true or false.'
                        WHEN jsonb_typeof(x.v -> 'rights') IS DISTINCT FROM 'array'
                             OR EXISTS (SELECT 1 FROM jsonb_array_elements(x.v -> 'rights') e
                                        WHERE jsonb_typeof(e) <> 'number' OR (e #>> '{}') !~ '^-?[0-9]{1,9}$')
                        THEN 'the rights must be a list of whole numbers.'
                        WHEN x.dup > 1 THEN format('the user %s appears more than once.', x.v ->> 'user')
                   END AS problem
            FROM (
                SELECT t.n, t.v,
                       row_number() OVER (PARTITION BY CASE WHEN jsonb_typeof(t.v) = 'object' THEN t.v ->> 'user' END
                                          ORDER BY t.n) AS dup
                FROM jsonb_array_elements(p_rows) WITH ORDINALITY AS t(v, n)
            ) x
        ) r
    ) c
    WHERE c.code IS NOT NULL
    ORDER BY c.n
    LIMIT 1;
    IF FOUND THEN
        RAISE EXCEPTION USING ERRCODE = v_problem.code, MESSAGE = format('Row %s: %s', v_problem.n, v_problem.problem);
    END IF;

    SELECT array_agg(ROW(t.n, t.v ->> 'user', t.v ->> 'full_name', (t.v ->> 'role')::integer,
                         (t.v ->> 'disabled')::boolean,
                         ARRAY(SELECT DISTINCT (e #>> '{}')::integer FROM jsonb_array_elements(t.v -> 'rights') e),
                         u.name IS NOT NULL)::xtrms_import_row ORDER BY t.n)
    INTO v_rows
    FROM jsonb_array_elements(p_rows) WITH ORDINALITY AS t(v, n)
    LEFT JOIN xtrms_users u ON u.name = t.v ->> 'user';
    v_count := coalesce(cardinality(v_rows), 0);
    IF v_count = 0 THEN
        RETURN 0;
    END IF;

    v_before := xtrms_enabled_super_users();
    INSERT INTO xtrms_users (name, full_name, role_id, disabled)
    SELECT r.name, r.full_name, r.role_id, r.disabled::integer FROM unnest(v_rows) r WHERE NOT r.existed;
    UPDATE xtrms_users u SET full_name = r.full_name, role_id = r.role_id, disabled = r.disabled::integer
    FROM unnest(v_rows) r
    WHERE r.existed AND u.name = r.name
      AND (u.full_name, u.role_id, u.disabled) IS DISTINCT FROM (r.full_name, r.role_id, r.disabled::integer);
    DELETE FROM xtrms_user_rights ur USING unnest(v_rows) r
    WHERE r.existed AND ur.user_name = r.name AND NOT (ur.right_id = ANY (r.rights));
    INSERT INTO xtrms_user_rights (user_name, right_id)
    SELECT r.name, g.right_id FROM unnest(v_rows) r CROSS JOIN LATERAL unnest(r.rights) AS g(right_id)
    ON CONFLICT DO NOTHING;

    IF v_before > 0 AND xtrms_enabled_super_users() = 0 THEN
        RAISE EXCEPTION USING ERRCODE = 'XT002', MESSAGE = 'The import would leave no enabled super user.';
    END IF;
    IF p_token IS NOT NULL AND NOT EXISTS (
           SELECT 1 FROM xtrms_users u JOIN xtrms_roles ro ON ro.id = u.role_id
           WHERE u.name = v_actor AND u.disabled = 0 AND ro.super_user <> 0) THEN
        RAISE EXCEPTION USING ERRCODE = 'XT002',
            MESSAGE = 'The import would disable you or take your super user role away.';
    END IF;

    PERFORM xtrms_audit_append(p_workstation, p_os_user, v_actor,
        array_fill('user-imported'::text, ARRAY[v_count]),
        ARRAY(SELECT r.name FROM unnest(v_rows) r ORDER BY r.n),
        ARRAY(SELECT CASE WHEN r.existed THEN 'updated' ELSE 'created' END FROM unnest(v_rows) r ORDER BY r.n));
    RETURN v_count;
END
$$;
--;

CREATE FUNCTION xtrms.set_policy(p_token text, p_policy jsonb, p_workstation text, p_os_user text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_actor text;
    v_old xtrms_policy;
    v_new xtrms_policy;
    v_detail text;
BEGIN
    PERFORM xtrms_lock_head();
    v_actor := xtrms_admin_actor(p_token);
    SELECT p.* INTO v_old FROM xtrms_policy p WHERE p.id = 1;
    v_new := xtrms_policy_merge(v_old, p_policy);
    SELECT string_agg(o.key || '=' || n.value, ', ' ORDER BY o.ord) INTO v_detail
    FROM json_each_text(to_json(v_old)) WITH ORDINALITY AS o(key, value, ord)
    JOIN json_each_text(to_json(v_new)) AS n(key, value) ON n.key = o.key
    WHERE o.value IS DISTINCT FROM n.value;
    IF v_detail IS NULL THEN
        RETURN;
    END IF;
    UPDATE xtrms_policy p
    SET lockout_threshold = v_new.lockout_threshold, lockout_seconds = v_new.lockout_seconds,
        guest_allowed = v_new.guest_allowed, guest_rights = v_new.guest_rights,
        report_unknown = v_new.report_unknown, min_password_length = v_new.min_password_length,
        iterations = v_new.iterations, session_hours = v_new.session_hours
    WHERE p.id = 1;
    PERFORM xtrms_audit(p_workstation, p_os_user, v_actor, 'policy-changed', '', v_detail);
END
$$;
--;

CREATE FUNCTION xtrms.read_audit(p_token text, p_count integer)
RETURNS TABLE(seq bigint, at_utc text, workstation text, os_user text, actor text, event text, subject text,
              detail text, hash text)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
#variable_conflict use_column
BEGIN
    PERFORM xtrms_admin_actor(p_token);
    RETURN QUERY
    SELECT a.seq, a.at_utc::text, a.workstation::text, a.os_user::text, a.actor::text, a.event::text,
           a.subject::text, a.detail::text, a.hash::text
    FROM xtrms_audit a
    ORDER BY a.seq DESC
    LIMIT CASE WHEN p_count > 0 THEN p_count END;
END
$$;
--;

-- The whole chain in one statement, so rows and head come from one
-- snapshot, and in one pass: each row's hash is recomputed (the text of
-- xtrms_audit_hash, written out) from the stored hash of the row before it;
-- the first row that fails names the problem.
CREATE FUNCTION xtrms.verify_audit(p_token text, p_since_seq bigint, p_since_hash text)
RETURNS TABLE(intact boolean, problem text, head_seq bigint)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
#variable_conflict use_column
BEGIN
    PERFORM xtrms_admin_actor(p_token);
    RETURN QUERY
    WITH chain AS (
        SELECT count(*) AS last_seq,
               min(r.n) FILTER (WHERE r.seq <> r.n) AS missing,
               min(r.n) FILTER (WHERE r.seq = r.n AND r.hash <> encode(xtrms.hmac(convert_to(
                       r.prev
                       || '|' || length(r.seq::text) || ':' || r.seq::text
                       || '|' || length(r.at_utc) || ':' || r.at_utc
                       || '|' || length(r.workstation) || ':' || r.workstation
                       || '|' || length(r.os_user) || ':' || r.os_user
                       || '|' || length(r.actor) || ':' || r.actor
                       || '|' || length(r.event) || ':' || r.event
                       || '|' || length(r.subject) || ':' || r.subject
                       || '|' || length(r.detail) || ':' || r.detail, 'UTF8'),
                       (SELECT s.audit_key FROM xtrms_secrets s WHERE s.id = 1), 'sha256'), 'hex')) AS changed,
               coalesce((SELECT a.hash::text FROM xtrms_audit a ORDER BY a.seq DESC LIMIT 1), '') AS last_hash
        FROM (SELECT a.*, row_number() OVER w AS n, coalesce(lag(a.hash::text) OVER w, '') AS prev
              FROM xtrms_audit a
              WINDOW w AS (ORDER BY a.seq)) r
    ), verdict AS (
        SELECT coalesce(
                   CASE WHEN c.missing < coalesce(c.changed, c.missing + 1)
                        THEN format('audit row %s is missing', c.missing)
                        WHEN c.changed IS NOT NULL
                        THEN format('audit row %s was changed', c.changed) END,
                   CASE WHEN h.seq IS NULL OR h.seq <> c.last_seq OR h.hash <> c.last_hash
                        THEN format('the audit trail ends at row %s but its head is row %s: rows were removed '
                                    'or the head was changed', c.last_seq, coalesce(h.seq, 0)) END,
                   CASE WHEN p_since_seq IS NOT NULL
                         AND NOT (p_since_seq = 0 AND coalesce(p_since_hash, '') = '')
                         AND NOT EXISTS (SELECT 1 FROM xtrms_audit a
                                         WHERE a.seq = p_since_seq AND a.hash = p_since_hash)
                        THEN format('audit row %s does not match the checkpoint', p_since_seq) END,
                   '') AS problem,
               h.seq AS head_seq
        FROM chain c
        LEFT JOIN (SELECT hd.seq, hd.hash::text AS hash FROM xtrms_audit_head hd WHERE hd.id = 1) h ON true
    )
    SELECT v.problem = '', v.problem, coalesce(v.head_seq, 0) FROM verdict v;
END
$$;
--;

-- For the database administrator only: the head to note down outside the
-- database, so that a later verify_audit can tell whether rows were cut off
-- the end of the trail.
CREATE FUNCTION xtrms.audit_checkpoint() RETURNS TABLE(seq bigint, hash text)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
#variable_conflict use_column
BEGIN
    IF NOT coalesce((SELECT r.rolsuper FROM pg_roles r WHERE r.rolname = session_user), false) THEN
        RAISE EXCEPTION USING ERRCODE = 'XT001', MESSAGE = 'not permitted';
    END IF;
    RETURN QUERY SELECT h.seq, h.hash::text FROM xtrms_audit_head h WHERE h.id = 1;
END
$$;
--;

-- Ownership and privileges ---------------------------------------------------------

-- Everything of the store belongs to xtrms_owner; pgcrypto's functions stay
-- the extension's, and only the owner may call them.
DO $$
DECLARE
    v_object record;
BEGIN
    FOR v_object IN
        SELECT c.oid, c.relname, c.relkind FROM pg_class c
        WHERE c.relnamespace = 'xtrms'::regnamespace AND c.relkind IN ('r', 'p', 'S', 'v', 'm')
          AND NOT EXISTS (SELECT 1 FROM pg_depend d
                          WHERE d.classid = 'pg_class'::regclass AND d.objid = c.oid AND d.deptype = 'e')
        ORDER BY c.relname
    LOOP
        EXECUTE format('ALTER %s xtrms.%I OWNER TO xtrms_owner',
            CASE v_object.relkind WHEN 'S' THEN 'SEQUENCE' WHEN 'v' THEN 'VIEW'
                                  WHEN 'm' THEN 'MATERIALIZED VIEW' ELSE 'TABLE' END, v_object.relname);
    END LOOP;
    FOR v_object IN
        SELECT p.oid FROM pg_proc p
        WHERE p.pronamespace = 'xtrms'::regnamespace
          AND NOT EXISTS (SELECT 1 FROM pg_depend d
                          WHERE d.classid = 'pg_proc'::regclass AND d.objid = p.oid AND d.deptype = 'e')
        ORDER BY p.oid
    LOOP
        EXECUTE format('ALTER FUNCTION %s OWNER TO xtrms_owner', v_object.oid::regprocedure);
    END LOOP;
    ALTER TYPE xtrms.xtrms_import_row OWNER TO xtrms_owner;
END
$$;
--;

REVOKE ALL ON SCHEMA xtrms FROM PUBLIC;
--;

REVOKE ALL ON ALL TABLES IN SCHEMA xtrms FROM PUBLIC, xtrms_workstation;
--;

REVOKE ALL ON ALL SEQUENCES IN SCHEMA xtrms FROM PUBLIC, xtrms_workstation;
--;

REVOKE ALL ON ALL FUNCTIONS IN SCHEMA xtrms FROM PUBLIC, xtrms_workstation;
--;

REVOKE ALL ON TYPE xtrms.xtrms_import_row FROM PUBLIC;
--;

GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA xtrms TO xtrms_owner;
--;

ALTER DEFAULT PRIVILEGES FOR ROLE xtrms_owner REVOKE EXECUTE ON FUNCTIONS FROM PUBLIC;
--;

GRANT USAGE ON SCHEMA xtrms TO xtrms_workstation;
--;

GRANT EXECUTE ON FUNCTION
    xtrms.schema_version(),
    xtrms.define(jsonb, jsonb, jsonb),
    xtrms.rights(),
    xtrms.roles(),
    xtrms.policy(),
    xtrms.login_params(text),
    xtrms.login(text, text, text, text),
    xtrms.logout(text),
    xtrms.session(text),
    xtrms.list_users(text),
    xtrms.save_changes(text, jsonb, text, text),
    xtrms.add_user(text, text, text, integer, text, integer, text, text, text),
    xtrms.set_password(text, text, text, integer, text, text, text),
    xtrms.change_own_password(text, text, text, integer, text, text, text),
    xtrms.rehash(text, text, text, integer, text, text, text),
    xtrms.unlock(text, text, text, text),
    xtrms.set_disabled(text, text, boolean, text, text),
    xtrms.import_users(text, jsonb, text, text),
    xtrms.set_policy(text, jsonb, text, text),
    xtrms.read_audit(text, integer),
    xtrms.verify_audit(text, bigint, text)
TO xtrms_workstation;
--;

UPDATE xtrms.xtrms_schema SET version = 4 WHERE id = 1;
--;
