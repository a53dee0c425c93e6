-- XTRms on PostgreSQL: version 5 to version 6.
--
-- The audit trail reviewed on screen: xtrms.query_audit reads one page of
-- the rows that match a filter, newest first, below a sequence number, for
-- an administrator's session (like read_audit); indexes serve each filter so
-- that a page costs the same on a trail of any length. A right granted or
-- withdrawn now names the right and its value before and after.
--
-- Run by the database administrator after XTRmsPostgres5.sql, in one
-- transaction, cut into statements at the lines "--;" like that file.
--
-- SQLSTATEs raised by query_audit:
--   XT001 not permitted (no administrator's session)
--   XT004 invalid input (a time not in the trail's form, a page size)

DO $$
BEGIN
    IF NOT (SELECT r.rolsuper FROM pg_roles r WHERE r.rolname = current_user) THEN
        RAISE EXCEPTION USING ERRCODE = '42501',
            MESSAGE = 'The upgrade of the rights store must be run by a superuser (the database administrator).';
    END IF;
    IF to_regclass('xtrms.xtrms_schema') IS NULL
       OR (SELECT s.version FROM xtrms.xtrms_schema s WHERE s.id = 1) IS DISTINCT FROM 5 THEN
        RAISE EXCEPTION USING ERRCODE = '55000',
            MESSAGE = 'This upgrade turns a version-5 rights store in schema xtrms into version 6.';
    END IF;
END
$$;
--;

CREATE INDEX xtrms_audit_event ON xtrms.xtrms_audit (event, seq);
--;

CREATE INDEX xtrms_audit_actor ON xtrms.xtrms_audit (lower(actor), seq);
--;

CREATE INDEX xtrms_audit_subject ON xtrms.xtrms_audit (lower(subject), seq);
--;

CREATE INDEX xtrms_audit_time ON xtrms.xtrms_audit (at_utc, seq);
--;

-- The text filter looks for a text in any field: a trigram index (pg_trgm,
-- in PostgreSQL's contrib) over the fields joined by a character no filter
-- holds serves it, so that a text that few rows hold is found without
-- reading the trail. query_audit filters with the same expression. Where
-- pg_trgm is not to be had the store works without the index, reading the
-- rows. The extension stays out of schema xtrms, whose functions are the
-- service's alone: where a site has it already, in its schema, else in
-- public.
DO $$
DECLARE
    v_schema text;
BEGIN
    SELECT n.nspname INTO v_schema
    FROM pg_extension e JOIN pg_namespace n ON n.oid = e.extnamespace
    WHERE e.extname = 'pg_trgm';
    IF v_schema IS NULL THEN
        IF NOT EXISTS (SELECT 1 FROM pg_available_extensions x WHERE x.name = 'pg_trgm') THEN
            RAISE NOTICE 'pg_trgm is not installed on this server: the audit trail''s text filter reads every row. '
                'Install PostgreSQL''s contrib package and create the index xtrms.xtrms_audit_text for speed.';
            RETURN;
        END IF;
        IF to_regnamespace('public') IS NULL THEN
            RAISE NOTICE 'There is no schema public for pg_trgm: the audit trail''s text filter reads every row.';
            RETURN;
        END IF;
        CREATE EXTENSION IF NOT EXISTS pg_trgm SCHEMA public;
        v_schema := 'public';
    END IF;
    EXECUTE format('CREATE INDEX xtrms_audit_text ON xtrms.xtrms_audit USING gin ((at_utc || E''\x01'' || '
        'workstation || E''\x01'' || os_user || E''\x01'' || actor || E''\x01'' || event || E''\x01'' || subject '
        '|| E''\x01'' || detail) %I.gin_trgm_ops)', v_schema);
END
$$;
--;

-- One page of the rows that match, newest first. Only the conditions asked
-- for are in the statement, so that the planner picks the index that serves
-- them for these values; the values themselves are parameters. Times come
-- as the rows store them (YYYY-MM-DDThh:mm:ssZ), both ends inclusive; the
-- user is the actor or the subject and the text is looked for in every
-- field, both without regard to case.
CREATE FUNCTION xtrms.query_audit(p_token text, p_from text, p_to text, p_user text, p_event text, p_text text,
    p_before bigint, p_count integer)
RETURNS TABLE(seq bigint, at_utc text, workstation text, os_user text, actor text, event text, subject text,
              detail text)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_sql text := 'SELECT a.seq, a.at_utc::text, a.workstation::text, a.os_user::text, a.actor::text, '
                  'a.event::text, a.subject::text, a.detail::text FROM xtrms.xtrms_audit a WHERE true';
    v_pattern text;
BEGIN
    PERFORM xtrms_admin_actor(p_token);
    IF p_count IS NULL OR p_count < 1 OR p_count > 1000 THEN
        PERFORM xtrms_invalid('A page of the audit trail holds 1 to 1000 rows.');
    END IF;
    IF (p_from IS NOT NULL AND p_from !~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$')
       OR (p_to IS NOT NULL AND p_to !~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$') THEN
        PERFORM xtrms_invalid('The time range must be given as YYYY-MM-DDThh:mm:ssZ.');
    END IF;
    IF length(p_user) > 256 OR length(p_event) > 64 OR length(p_text) > 512 THEN
        PERFORM xtrms_invalid('A filter of the audit trail is longer than any field it could match.');
    END IF;
    -- The fields are joined by a control character: a text holding one
    -- could match across two of them.
    IF p_text ~ '[\u0001-\u001f\u007f]' THEN
        PERFORM xtrms_invalid('The text to look for must have no control characters.');
    END IF;
    IF coalesce(p_before, 0) > 0 THEN
        v_sql := v_sql || ' AND a.seq < $1';
    END IF;
    IF coalesce(p_from, '') <> '' THEN
        v_sql := v_sql || ' AND a.at_utc >= $2';
    END IF;
    IF coalesce(p_to, '') <> '' THEN
        v_sql := v_sql || ' AND a.at_utc <= $3';
    END IF;
    IF coalesce(p_user, '') <> '' THEN
        v_sql := v_sql || ' AND (lower(a.actor) = lower($4) OR lower(a.subject) = lower($4))';
    END IF;
    IF coalesce(p_event, '') <> '' THEN
        v_sql := v_sql || ' AND a.event = $5';
    END IF;
    -- The text in any field, without regard to case: the index's expression
    -- (the same text, character for character) and the text as a LIKE
    -- pattern whose own %, _ and \ match only themselves.
    IF coalesce(p_text, '') <> '' THEN
        v_sql := v_sql || ' AND (a.at_utc || E''\x01'' || a.workstation || E''\x01'' || a.os_user || E''\x01'' || a.actor'
                       || ' || E''\x01'' || a.event || E''\x01'' || a.subject || E''\x01'' || a.detail) ILIKE $6';
        v_pattern := '%' || replace(replace(replace(p_text, '\', '\\'), '%', '\%'), '_', '\_') || '%';
    END IF;
    v_sql := v_sql || ' ORDER BY a.seq DESC LIMIT $7';
    RETURN QUERY EXECUTE v_sql USING p_before, p_from, p_to, p_user, p_event, v_pattern, p_count;
END
$$;
--;

-- The administrator's pending changes as in version 5; a right granted or
-- withdrawn is recorded as "right ID (LABEL): before -> after".
CREATE OR REPLACE FUNCTION xtrms.save_changes(p_token text, p_changes jsonb, p_workstation text, p_os_user text)
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
            v_details := v_details || format('right %s (%s): %s -> %s', v_right,
                (SELECT r.name FROM xtrms_rights r WHERE r.id = v_right),
                CASE WHEN v_allowed THEN 'no' ELSE 'yes' END, CASE WHEN v_allowed THEN 'yes' ELSE 'no' END);
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

-- Created by the administrator, so owned by him until said otherwise: the
-- owner's, like every function of the store. save_changes was replaced in
-- place and keeps its owner and its grant.
ALTER FUNCTION xtrms.query_audit(text, text, text, text, text, text, bigint, integer) OWNER TO xtrms_owner;
--;

REVOKE ALL ON FUNCTION xtrms.query_audit(text, text, text, text, text, text, bigint, integer)
FROM PUBLIC;
--;

GRANT EXECUTE ON FUNCTION xtrms.query_audit(text, text, text, text, text, text, bigint, integer)
TO xtrms_workstation;
--;

UPDATE xtrms.xtrms_schema SET version = 6 WHERE id = 1;
--;
