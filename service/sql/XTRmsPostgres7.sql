-- XTRms on PostgreSQL: version 6 to version 7.
--
-- The password lifecycle (maximum and minimum age, a history of hashes that a
-- new password may not repeat, the change an administrator's reset asks for),
-- the session's lock and switch of user, electronic signatures and the rights
-- that need one. The server decides each of them as it decides a login.
--
-- Run by the database administrator after XTRmsPostgres5.sql, in one
-- transaction, cut into statements at the lines "--;" like that file.
--
-- SQLSTATEs: XT001 not permitted (no valid session), XT004 invalid input.

DO $$
BEGIN
    IF NOT (SELECT r.rolsuper FROM pg_roles r WHERE r.rolname = current_user) THEN
        RAISE EXCEPTION USING ERRCODE = '42501',
            MESSAGE = 'The upgrade of the rights store must be run by a superuser (the database administrator).';
    END IF;
    IF to_regclass('xtrms.xtrms_schema') IS NULL
       OR (SELECT s.version FROM xtrms.xtrms_schema s WHERE s.id = 1) IS DISTINCT FROM 6 THEN
        RAISE EXCEPTION USING ERRCODE = '55000',
            MESSAGE = 'This upgrade turns a version-6 rights store in schema xtrms into version 7.';
    END IF;
END
$$;
--;

-- Passwords stored before their age was kept count from the upgrade.
ALTER TABLE xtrms.xtrms_users ADD COLUMN password_changed bigint NOT NULL DEFAULT 0;
--;

UPDATE xtrms.xtrms_users SET password_changed = floor(extract(epoch FROM clock_timestamp()))::bigint;
--;

ALTER TABLE xtrms.xtrms_users ADD COLUMN must_change integer NOT NULL DEFAULT 0;
--;

-- Replaced passwords: the hash of the derived key with its salt, never more.
CREATE TABLE xtrms.xtrms_password_history (
    id bigserial PRIMARY KEY,
    user_name varchar(256) NOT NULL REFERENCES xtrms.xtrms_users (name) ON DELETE CASCADE,
    password_hash text NOT NULL,
    password_salt text NOT NULL,
    password_iterations integer NOT NULL
);
--;

ALTER TABLE xtrms.xtrms_password_history OWNER TO xtrms_owner;
--;

REVOKE ALL ON xtrms.xtrms_password_history, xtrms.xtrms_password_history_id_seq FROM PUBLIC, xtrms_workstation;
--;

ALTER TABLE xtrms.xtrms_sessions ADD COLUMN locked boolean NOT NULL DEFAULT false;
--;

ALTER TABLE xtrms.xtrms_policy ADD COLUMN max_age_days integer NOT NULL DEFAULT 0;
--;

ALTER TABLE xtrms.xtrms_policy ADD COLUMN min_age_days integer NOT NULL DEFAULT 0;
--;

ALTER TABLE xtrms.xtrms_policy ADD COLUMN history integer NOT NULL DEFAULT 0;
--;

ALTER TABLE xtrms.xtrms_policy ADD COLUMN must_change_after_reset boolean NOT NULL DEFAULT true;
--;

ALTER TABLE xtrms.xtrms_policy ADD COLUMN signed_rights text NOT NULL DEFAULT '';
--;

-- Whether the user must change the password before a session opens.
CREATE FUNCTION xtrms.xtrms_expired(p_name text) RETURNS boolean
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN EXISTS (SELECT 1 FROM xtrms_users u CROSS JOIN xtrms_policy p
                   WHERE u.name = p_name AND p.id = 1
                     AND (u.must_change <> 0
                          OR (p.max_age_days > 0 AND xtrms_now() - u.password_changed >= p.max_age_days::bigint * 86400)));
END
$$;
--;

-- A name and key proven as a login proves them, under the head lock, for
-- what is not a login (a change at login, the lock, a signature): unknown
-- names count and lock like real ones, a wrong key counts toward lockout,
-- every refusal is audited under p_event. Answers an Rms::ERmsLoginResult:
-- 1 proven (failures cleared), 2 wrong, 3 unknown and reported so, 4 locked,
-- 11 disabled (told only with the right key).
CREATE FUNCTION xtrms.xtrms_prove(p_name text, p_key_hex text, p_workstation text, p_os_user text, p_event text)
RETURNS integer
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_policy xtrms_policy;
    v_user xtrms_users;
    v_now constant bigint := xtrms_now();
    v_key text;
    v_failed integer;
    v_until bigint;
    v_locked boolean;
BEGIN
    SELECT p.* INTO v_policy FROM xtrms_policy p WHERE p.id = 1;
    IF xtrms_valid_user_name(p_name) THEN
        SELECT u.* INTO v_user FROM xtrms_users u WHERE u.name = p_name;
    END IF;
    IF v_user.name IS NULL THEN
        v_key := xtrms_name_key(p_name);
        SELECT f.failed_logins, f.locked_until INTO v_failed, v_until FROM xtrms_name_failures f WHERE f.name_key = v_key;
        IF v_until = -1 OR v_until > v_now THEN
            PERFORM xtrms_audit(p_workstation, p_os_user, '', p_event, '', '4 locked');
            RETURN 4;
        END IF;
        v_failed := CASE WHEN v_until > 0 THEN 1 ELSE coalesce(v_failed, 0) + 1 END;
        v_locked := v_policy.lockout_threshold > 0 AND v_failed >= v_policy.lockout_threshold;
        v_until := CASE WHEN NOT v_locked THEN 0 WHEN v_policy.lockout_seconds = 0 THEN -1
                        ELSE ceil(extract(epoch FROM clock_timestamp()))::bigint + v_policy.lockout_seconds END;
        INSERT INTO xtrms_name_failures AS f (name_key, failed_logins, locked_until) VALUES (v_key, v_failed, v_until)
        ON CONFLICT (name_key) DO UPDATE SET failed_logins = EXCLUDED.failed_logins, locked_until = EXCLUDED.locked_until;
        PERFORM xtrms_audit(p_workstation, p_os_user, '', p_event, '', '2 unknown user');
        RETURN CASE WHEN v_locked THEN 4 WHEN v_policy.report_unknown THEN 3 ELSE 2 END;
    END IF;
    IF v_user.locked_until = -1 OR v_user.locked_until > v_now THEN
        PERFORM xtrms_audit(p_workstation, p_os_user, '', p_event, v_user.name, '4 locked');
        RETURN 4;
    END IF;
    IF v_user.password_hash IS NULL OR xtrms_key_hash(p_key_hex) IS DISTINCT FROM v_user.password_hash THEN
        SELECT c.o_failed, c.o_locked INTO v_failed, v_locked FROM xtrms_count_failure(v_user.name) c;
        PERFORM xtrms_audit_append(p_workstation, p_os_user, '',
            CASE WHEN v_locked THEN ARRAY[p_event, 'user-locked'] ELSE ARRAY[p_event] END,
            ARRAY[v_user.name, v_user.name]::text[],
            ARRAY[CASE WHEN v_locked THEN '2 wrong password, now locked' ELSE '2 wrong password' END,
                  v_failed || ' failed logins']);
        RETURN CASE WHEN v_locked THEN 4 ELSE 2 END;
    END IF;
    IF v_user.disabled <> 0 THEN
        PERFORM xtrms_audit(p_workstation, p_os_user, '', p_event, v_user.name, '11 disabled');
        RETURN 11;
    END IF;
    UPDATE xtrms_users u SET failed_logins = 0, locked_until = 0 WHERE u.name = v_user.name;
    RETURN 1;
END
$$;
--;

-- Keeps the age of every password and the history of replaced ones. The
-- functions that write a password say why in xtrms.password_change, set
-- for their own run only: 'reset' (an administrator: the user must change it
-- when the policy says so) or 'own' (the user's change). A rehash keeps age
-- and history as they are.
CREATE FUNCTION xtrms.xtrms_password_written() RETURNS trigger
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_policy xtrms_policy;
    v_why constant text := coalesce(current_setting('xtrms.password_change', true), '');
BEGIN
    SELECT p.* INTO v_policy FROM xtrms_policy p WHERE p.id = 1;
    IF TG_OP = 'INSERT' THEN
        NEW.password_changed := xtrms_now();
        NEW.must_change := v_policy.must_change_after_reset::integer;
        RETURN NEW;
    END IF;
    IF NEW.password_hash IS NOT DISTINCT FROM OLD.password_hash OR v_why NOT IN ('reset', 'own') THEN
        RETURN NEW;
    END IF;
    IF OLD.password_hash IS NOT NULL AND v_policy.history > 0 THEN
        INSERT INTO xtrms_password_history (user_name, password_hash, password_salt, password_iterations)
        VALUES (OLD.name, OLD.password_hash, OLD.password_salt, OLD.password_iterations);
    END IF;
    DELETE FROM xtrms_password_history h
    WHERE h.user_name = OLD.name
      AND h.id NOT IN (SELECT k.id FROM xtrms_password_history k WHERE k.user_name = OLD.name
                       ORDER BY k.id DESC LIMIT v_policy.history);
    NEW.password_changed := xtrms_now();
    NEW.must_change := CASE WHEN v_why = 'reset' THEN v_policy.must_change_after_reset::integer ELSE 0 END;
    RETURN NEW;
END
$$;
--;

CREATE TRIGGER xtrms_password_written BEFORE INSERT OR UPDATE OF password_hash ON xtrms.xtrms_users
FOR EACH ROW EXECUTE FUNCTION xtrms.xtrms_password_written();
--;

ALTER FUNCTION xtrms.set_password(text, text, text, integer, text, text, text) SET xtrms.password_change = 'reset';
--;

ALTER FUNCTION xtrms.add_user(text, text, text, integer, text, integer, text, text, text)
    SET xtrms.password_change = 'reset';
--;

ALTER FUNCTION xtrms.import_users(text, jsonb, text, text) SET xtrms.password_change = 'reset';
--;

ALTER FUNCTION xtrms.rehash(text, text, text, integer, text, text, text) SET xtrms.password_change = 'rehash';
--;

CREATE OR REPLACE FUNCTION xtrms.xtrms_policy_merge(p_base xtrms.xtrms_policy, p_policy jsonb) RETURNS xtrms.xtrms_policy
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
        WHEN 'max_age_days' THEN
            v_policy.max_age_days := xtrms_json_int(v_value, 'max_age_days');
            IF v_policy.max_age_days < 0 OR v_policy.max_age_days > 36500 THEN
                PERFORM xtrms_invalid('max_age_days must be between 0 and 36500.');
            END IF;
        WHEN 'min_age_days' THEN
            v_policy.min_age_days := xtrms_json_int(v_value, 'min_age_days');
            IF v_policy.min_age_days < 0 OR v_policy.min_age_days > 36500 THEN
                PERFORM xtrms_invalid('min_age_days must be between 0 and 36500.');
            END IF;
        WHEN 'history' THEN
            v_policy.history := xtrms_json_int(v_value, 'history');
            IF v_policy.history < 0 OR v_policy.history > 24 THEN
                PERFORM xtrms_invalid('history must be between 0 and 24.');
            END IF;
        WHEN 'must_change_after_reset' THEN
            v_policy.must_change_after_reset := xtrms_json_bool(v_value, 'must_change_after_reset');
        WHEN 'signed_rights' THEN
            IF jsonb_typeof(v_value) <> 'array' OR EXISTS (
                   SELECT 1 FROM jsonb_array_elements(v_value) e
                   WHERE jsonb_typeof(e) <> 'number' OR (e #>> '{}') !~ '^[0-9]{1,9}$'
                      OR NOT EXISTS (SELECT 1 FROM xtrms_rights r WHERE r.id = (e #>> '{}')::integer)) THEN
                PERFORM xtrms_invalid('signed_rights must list rights the store defines.');
            END IF;
            v_policy.signed_rights := coalesce((SELECT string_agg(DISTINCT e #>> '{}', ';')
                                                FROM jsonb_array_elements(v_value) e), '');
        ELSE
            PERFORM xtrms_invalid(format('The policy has no setting %s.', v_key));
        END CASE;
    END LOOP;
    RETURN v_policy;
END
$$;
--;

CREATE OR REPLACE FUNCTION xtrms.define(p_rights jsonb, p_roles jsonb, p_policy jsonb) RETURNS integer
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
    -- Every start of every workstation asks; only the first one writes, so
    -- what it writes is checked here as the site's own definition is.
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
        IF jsonb_typeof(v_item) <> 'object' OR jsonb_typeof(v_item -> 'name') IS DISTINCT FROM 'string' THEN
            PERFORM xtrms_invalid(format('Right %s must have an id and a name.', v_n));
        END IF;
        v_id := xtrms_json_int(v_item -> 'id', format('The id of right %s', v_n));
        IF v_id < 0 OR v_id > 999999999 THEN
            PERFORM xtrms_invalid('A right''s id must be from 0 to 999999999.');
        END IF;
        IF EXISTS (SELECT 1 FROM xtrms_rights r WHERE r.id = v_id) THEN
            PERFORM xtrms_invalid(format('The right %s is defined twice.', v_id));
        END IF;
        PERFORM xtrms_check_label(v_item ->> 'name', format('The label of right %s', v_id));
        INSERT INTO xtrms_rights (id, name) VALUES (v_id, v_item ->> 'name');
    END LOOP;
    v_n := 0;
    FOR v_item IN SELECT e FROM jsonb_array_elements(p_roles) e LOOP
        v_n := v_n + 1;
        IF jsonb_typeof(v_item) <> 'object' OR jsonb_typeof(v_item -> 'name') IS DISTINCT FROM 'string'
           OR jsonb_typeof(coalesce(v_item -> 'rights', '[]')) <> 'array' THEN
            PERFORM xtrms_invalid(format('Role %s must have an id, a name and a list of rights.', v_n));
        END IF;
        v_id := xtrms_json_int(v_item -> 'id', format('The id of role %s', v_n));
        IF v_id < 1 OR v_id > 999999999 THEN
            PERFORM xtrms_invalid('A role''s id must be from 1 to 999999999.');
        END IF;
        IF EXISTS (SELECT 1 FROM xtrms_roles r WHERE r.id = v_id) THEN
            PERFORM xtrms_invalid(format('The role %s is defined twice.', v_id));
        END IF;
        PERFORM xtrms_check_label(v_item ->> 'name', format('The name of role %s', v_id));
        IF EXISTS (SELECT 1 FROM xtrms_roles r WHERE lower(r.name) = lower(v_item ->> 'name')) THEN
            PERFORM xtrms_invalid(format('Role %s has the name of another role (names are told apart without '
                'regard to case).', v_id));
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
        iterations = v_policy.iterations, session_hours = v_policy.session_hours,
        max_age_days = v_policy.max_age_days, min_age_days = v_policy.min_age_days, history = v_policy.history,
        must_change_after_reset = v_policy.must_change_after_reset, signed_rights = v_policy.signed_rights, defined = true
    WHERE p.id = 1;
    SELECT count(*) INTO v_rights FROM xtrms_rights;
    SELECT count(*) INTO v_roles FROM xtrms_roles;
    PERFORM xtrms_audit('', '', '', 'definitions-written', '', format('%s rights, %s roles', v_rights, v_roles));
    RETURN 1;
END
$$;
--;

CREATE OR REPLACE FUNCTION xtrms.set_policy(p_token text, p_policy jsonb, p_workstation text, p_os_user text) RETURNS void
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
        iterations = v_new.iterations, session_hours = v_new.session_hours,
        max_age_days = v_new.max_age_days, min_age_days = v_new.min_age_days, history = v_new.history,
        must_change_after_reset = v_new.must_change_after_reset, signed_rights = v_new.signed_rights
    WHERE p.id = 1;
    PERFORM xtrms_audit(p_workstation, p_os_user, v_actor, 'policy-changed', '', v_detail);
END
$$;
--;

CREATE OR REPLACE FUNCTION xtrms.login(p_name text, p_key_hex text, p_workstation text, p_os_user text)
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
    -- The right password of an expired account opens no session: its user
    -- changes it first (change_password, forced).
    IF xtrms_expired(v_user.name) THEN
        PERFORM xtrms_audit(p_workstation, p_os_user, '', 'login-refused', v_user.name, '6 password expired');
        RETURN QUERY SELECT 6, NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
        RETURN;
    END IF;
    v_token := xtrms_new_session(v_user.name, false, p_workstation);
    PERFORM xtrms_audit(p_workstation, p_os_user, v_user.name, 'login', v_user.name, '');
    RETURN QUERY
    SELECT 1, v_token, v_user.name::text, v_user.role_id,
           coalesce((SELECT r.super_user <> 0 FROM xtrms_roles r WHERE r.id = v_user.role_id), false),
           xtrms_user_rights_text(v_user.name);
END
$$;
--;

-- The way around history and minimum age is closed: a user's own change goes
-- through change_password.
CREATE OR REPLACE FUNCTION xtrms.change_own_password(p_token text, p_old_key_hex text, p_salt_hex text,
    p_iterations integer, p_key_hex text, p_workstation text, p_os_user text)
RETURNS integer
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RAISE EXCEPTION USING ERRCODE = 'XT001', MESSAGE = 'not permitted: use change_password';
END
$$;
--;

CREATE FUNCTION xtrms.password_policy()
RETURNS TABLE(max_age_days integer, min_age_days integer, history integer, must_change_after_reset boolean,
              signed_rights text)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN QUERY SELECT p.max_age_days, p.min_age_days, p.history, p.must_change_after_reset, p.signed_rights
    FROM xtrms_policy p WHERE p.id = 1;
END
$$;
--;

-- Salt and count of the current password (as login_params answers) and of
-- each kept one, newest first, always as many as the policy keeps: made-up
-- ones fill in, so that the answer tells nothing about the account.
CREATE FUNCTION xtrms.password_salts(p_name text) RETURNS TABLE(salt_hex text, iterations integer)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
#variable_conflict use_column
DECLARE
    v_policy xtrms_policy;
BEGIN
    SELECT p.* INTO v_policy FROM xtrms_policy p WHERE p.id = 1;
    RETURN QUERY SELECT l.salt_hex, l.iterations FROM login_params(p_name) l;
    RETURN QUERY
    SELECT coalesce(h.password_salt, left(xtrms_name_key(coalesce(p_name, '') || '#' || g.n), 32)),
           coalesce(h.password_iterations, v_policy.iterations)
    FROM generate_series(1, v_policy.history) AS g(n)
    LEFT JOIN (SELECT k.password_salt, k.password_iterations, row_number() OVER (ORDER BY k.id DESC) AS n
               FROM xtrms_password_history k
               WHERE xtrms_valid_user_name(p_name) AND k.user_name = p_name) h ON h.n = g.n
    ORDER BY g.n;
END
$$;
--;

-- A password change: the user's own (a session's token, p_forced false) or
-- the one a login asked for (p_forced, no session; then a session opens).
-- p_history_keys are the new password's keys under password_salts' salts, in
-- that order, separated by ';'. Answers an Rms::ERmsPasswordResult: 0 changed,
-- 1 wrong old password (counted as a failed login), 4 not due, 8 reused,
-- 9 too recent, 10 locked or disabled.
CREATE FUNCTION xtrms.change_password(p_token text, p_name text, p_old_key_hex text, p_salt_hex text,
    p_iterations integer, p_key_hex text, p_history_keys text, p_forced boolean, p_workstation text, p_os_user text)
RETURNS TABLE(result integer, token text, user_name text, role_id integer, super_user boolean, rights text)
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s' SET xtrms.password_change = 'own'
AS $$
#variable_conflict use_column
DECLARE
    v_policy xtrms_policy;
    v_name text;
    v_user xtrms_users;
    v_proof integer;
    v_keys text[] := string_to_array(coalesce(p_history_keys, ''), ';');
    v_token text;
BEGIN
    PERFORM xtrms_lock_head();
    SELECT p.* INTO v_policy FROM xtrms_policy p WHERE p.id = 1;
    IF coalesce(p_forced, false) THEN
        v_name := p_name;
    ELSE
        -- The session's user even when his account was locked or disabled
        -- meanwhile, so that he is told why he cannot change it (10); never
        -- at a locked screen.
        SELECT s.user_name INTO v_name FROM xtrms_sessions s
        WHERE s.token_hash = xtrms_token_hash(p_token) AND NOT s.guest AND NOT s.locked
          AND s.expires > clock_timestamp();
        IF v_name IS NULL THEN
            RAISE EXCEPTION USING ERRCODE = 'XT001', MESSAGE = 'not permitted';
        END IF;
    END IF;
    PERFORM xtrms_check_password_input(p_salt_hex, p_iterations, p_key_hex);
    v_proof := xtrms_prove(v_name, p_old_key_hex, p_workstation, p_os_user, 'password-change-refused');
    IF v_proof <> 1 THEN
        RETURN QUERY SELECT CASE WHEN v_proof IN (2, 3) THEN 1 ELSE 10 END, NULL::text, NULL::text, NULL::integer,
                            NULL::boolean, NULL::text;
        RETURN;
    END IF;
    SELECT u.* INTO v_user FROM xtrms_users u WHERE u.name = v_name;
    -- Not a way around the minimum age: only a password that is due is
    -- changed without a session.
    IF coalesce(p_forced, false) AND NOT xtrms_expired(v_user.name) THEN
        PERFORM xtrms_audit(p_workstation, p_os_user, '', 'password-change-refused', v_user.name, 'not expired');
        RETURN QUERY SELECT 4, NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
        RETURN;
    END IF;
    IF NOT coalesce(p_forced, false) AND v_user.must_change = 0 AND v_policy.min_age_days > 0
       AND xtrms_now() - v_user.password_changed < v_policy.min_age_days::bigint * 86400 THEN
        RETURN QUERY SELECT 9, NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
        RETURN;
    END IF;
    -- The current password and the kept ones, in the order of password_salts.
    IF xtrms_key_hash(v_keys[1]) IS NOT DISTINCT FROM v_user.password_hash
       OR EXISTS (SELECT 1 FROM (SELECT k.password_hash, row_number() OVER (ORDER BY k.id DESC) AS n
                                 FROM xtrms_password_history k WHERE k.user_name = v_user.name) h
                  WHERE h.n <= v_policy.history AND xtrms_key_hash(v_keys[h.n + 1]) = h.password_hash) THEN
        RETURN QUERY SELECT 8, NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
        RETURN;
    END IF;
    UPDATE xtrms_users u
    SET password_hash = xtrms_key_hash(p_key_hex), password_salt = lower(p_salt_hex), password_iterations = p_iterations
    WHERE u.name = v_user.name;
    IF NOT coalesce(p_forced, false) THEN
        PERFORM xtrms_audit(p_workstation, p_os_user, v_user.name, 'password-changed', v_user.name, '');
        RETURN QUERY SELECT 0, NULL::text, NULL::text, NULL::integer, NULL::boolean, NULL::text;
        RETURN;
    END IF;
    v_token := xtrms_new_session(v_user.name, false, p_workstation);
    PERFORM xtrms_audit_append(p_workstation, p_os_user, v_user.name, ARRAY['password-expired-change', 'login'],
        ARRAY[v_user.name, v_user.name]::text[], ARRAY['', '']);
    RETURN QUERY
    SELECT 0, v_token, v_user.name::text, v_user.role_id,
           coalesce((SELECT r.super_user <> 0 FROM xtrms_roles r WHERE r.id = v_user.role_id), false),
           xtrms_user_rights_text(v_user.name);
END
$$;
--;

-- A locked session counts for nothing but its unlock, the switch to another
-- user and its logout: whoever holds the token of a locked screen reads and
-- changes no more than a stranger would.
CREATE OR REPLACE FUNCTION xtrms.xtrms_session_user(p_token text)
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
      AND NOT s.locked
      AND CASE WHEN s.guest THEN p.guest_allowed
               ELSE u.name IS NOT NULL AND u.disabled = 0
                    AND NOT (u.locked_until = -1 OR u.locked_until > xtrms_now()) END;
END
$$;
--;

CREATE FUNCTION xtrms.lock_session(p_token text, p_workstation text, p_os_user text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_user text;
BEGIN
    PERFORM xtrms_lock_head();
    SELECT s.user_name INTO v_user FROM xtrms_session_user(p_token) s WHERE NOT s.guest;
    IF NOT FOUND THEN
        RAISE EXCEPTION USING ERRCODE = 'XT001', MESSAGE = 'not permitted';
    END IF;
    UPDATE xtrms_sessions s SET locked = true WHERE s.token_hash = xtrms_token_hash(p_token);
    PERFORM xtrms_audit(p_workstation, p_os_user, v_user, 'session-locked', v_user, '');
END
$$;
--;

-- The same user continues at a locked session: proven like a login, a wrong
-- key counts toward lockout. Answers an Rms::ERmsLoginResult.
CREATE FUNCTION xtrms.unlock_session(p_token text, p_key_hex text, p_workstation text, p_os_user text)
RETURNS integer
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_user xtrms_users;
    v_proof integer;
BEGIN
    PERFORM xtrms_lock_head();
    SELECT u.* INTO v_user FROM xtrms_sessions s JOIN xtrms_users u ON u.name = s.user_name
    WHERE s.token_hash = xtrms_token_hash(p_token) AND s.locked AND NOT s.guest AND s.expires > clock_timestamp();
    IF v_user.name IS NULL THEN
        RAISE EXCEPTION USING ERRCODE = 'XT001', MESSAGE = 'not permitted';
    END IF;
    v_proof := xtrms_prove(v_user.name, p_key_hex, p_workstation, p_os_user, 'unlock-refused');
    IF v_proof <> 1 THEN
        RETURN v_proof;
    END IF;
    UPDATE xtrms_sessions s SET locked = false WHERE s.token_hash = xtrms_token_hash(p_token);
    PERFORM xtrms_audit(p_workstation, p_os_user, v_user.name, 'session-unlocked', v_user.name, '');
    RETURN 1;
END
$$;
--;

-- Another user, just logged in (p_token), takes over a locked session,
-- which ends.
CREATE FUNCTION xtrms.switch_user(p_locked_token text, p_token text, p_workstation text, p_os_user text)
RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_user text;
    v_previous text;
BEGIN
    PERFORM xtrms_lock_head();
    SELECT s.user_name INTO v_user FROM xtrms_session_user(p_token) s WHERE NOT s.guest;
    SELECT s.user_name INTO v_previous FROM xtrms_sessions s
    WHERE s.token_hash = xtrms_token_hash(p_locked_token) AND s.locked AND NOT s.guest;
    IF v_user IS NULL OR v_previous IS NULL THEN
        RAISE EXCEPTION USING ERRCODE = 'XT001', MESSAGE = 'not permitted';
    END IF;
    DELETE FROM xtrms_sessions s WHERE s.token_hash = xtrms_token_hash(p_locked_token);
    PERFORM xtrms_audit(p_workstation, p_os_user, v_user, 'user-switched', v_user, v_previous);
END
$$;
--;

-- An electronic signature, given at a logged-in, unlocked session: the
-- signer proven like a login (failures count toward lockout), never a
-- session opened. Answers an Rms::ERmsSignResult and the record.
CREATE FUNCTION xtrms.sign(p_token text, p_name text, p_key_hex text, p_meaning text, p_reason text,
    p_first_signer text, p_workstation text, p_os_user text)
RETURNS TABLE(result integer, user_name text, full_name text, at_utc text, seq bigint)
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
#variable_conflict use_column
DECLARE
    v_actor text;
    v_user xtrms_users;
    v_proof integer;
BEGIN
    PERFORM xtrms_lock_head();
    SELECT s.user_name INTO v_actor FROM xtrms_session_user(p_token) s WHERE NOT s.guest;
    IF v_actor IS NULL THEN
        RAISE EXCEPTION USING ERRCODE = 'XT001', MESSAGE = 'not permitted';
    END IF;
    IF NOT xtrms_valid_label(p_meaning) OR NOT xtrms_valid_label(p_reason)
       OR (coalesce(p_first_signer, '') <> '' AND NOT xtrms_valid_user_name(p_first_signer)) THEN
        RETURN QUERY SELECT 7, NULL::text, NULL::text, NULL::text, NULL::bigint;
        RETURN;
    END IF;
    IF coalesce(p_first_signer, '') <> '' AND lower(p_first_signer) = lower(coalesce(p_name, '')) THEN
        RETURN QUERY SELECT 4, NULL::text, NULL::text, NULL::text, NULL::bigint;
        RETURN;
    END IF;
    v_proof := xtrms_prove(p_name, p_key_hex, p_workstation, p_os_user, 'signature-refused');
    IF v_proof <> 1 THEN
        RETURN QUERY SELECT CASE v_proof WHEN 2 THEN 1 WHEN 3 THEN 5 WHEN 4 THEN 2 ELSE 3 END,
                            NULL::text, NULL::text, NULL::text, NULL::bigint;
        RETURN;
    END IF;
    SELECT u.* INTO v_user FROM xtrms_users u WHERE u.name = p_name;
    -- A password that is due must be changed before it signs.
    IF xtrms_expired(v_user.name) THEN
        PERFORM xtrms_audit(p_workstation, p_os_user, '', 'signature-refused', v_user.name, '6 password expired');
        RETURN QUERY SELECT 5, NULL::text, NULL::text, NULL::text, NULL::bigint;
        RETURN;
    END IF;
    PERFORM xtrms_audit(p_workstation, p_os_user, v_actor, 'signature', v_user.name,
        p_meaning || '; reason: ' || p_reason
            || CASE WHEN coalesce(p_first_signer, '') <> '' THEN '; first signer: ' || p_first_signer ELSE '' END);
    RETURN QUERY
    SELECT 0, v_user.name::text, v_user.full_name::text, a.at_utc::text, a.seq
    FROM xtrms_audit a ORDER BY a.seq DESC LIMIT 1;
END
$$;
--;

-- Created by the administrator: handed to the owner, executable by nobody
-- but the workstation role where listed below.
ALTER FUNCTION xtrms.xtrms_expired(text) OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.xtrms_prove(text, text, text, text, text) OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.xtrms_password_written() OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.password_policy() OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.password_salts(text) OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.change_password(text, text, text, text, integer, text, text, boolean, text, text)
    OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.lock_session(text, text, text) OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.unlock_session(text, text, text, text) OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.switch_user(text, text, text, text) OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.sign(text, text, text, text, text, text, text, text) OWNER TO xtrms_owner;
--;

REVOKE ALL ON FUNCTION xtrms.xtrms_expired(text), xtrms.xtrms_prove(text, text, text, text, text),
    xtrms.xtrms_password_written(), xtrms.password_policy(), xtrms.password_salts(text),
    xtrms.change_password(text, text, text, text, integer, text, text, boolean, text, text),
    xtrms.lock_session(text, text, text), xtrms.unlock_session(text, text, text, text),
    xtrms.switch_user(text, text, text, text), xtrms.sign(text, text, text, text, text, text, text, text)
FROM PUBLIC, xtrms_workstation;
--;

GRANT EXECUTE ON FUNCTION xtrms.password_policy(), xtrms.password_salts(text),
    xtrms.change_password(text, text, text, text, integer, text, text, boolean, text, text),
    xtrms.lock_session(text, text, text), xtrms.unlock_session(text, text, text, text),
    xtrms.switch_user(text, text, text, text), xtrms.sign(text, text, text, text, text, text, text, text)
TO xtrms_workstation;
--;

UPDATE xtrms.xtrms_schema SET version = 7 WHERE id = 1;
--;
