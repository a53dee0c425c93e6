-- XTRms on PostgreSQL: version 4 to version 5.
--
-- A site provisions its rights and roles from a file before any workstation
-- starts, and changes them later the same way (xtrms define): xtrms.redefine
-- writes a whole definition, and only the database administrator may call it.
-- A workstation still writes its host's definition only into a store that has
-- none (xtrms.define, unchanged).
--
-- Run by the database administrator after XTRmsPostgres.sql, in one
-- transaction, cut into statements at the lines "--;" like that file.
--
-- SQLSTATEs raised by redefine:
--   XT001 not permitted (not a superuser)
--   XT002 refused by a rule (a right still granted, a role still held, the
--         last enabled super user)
--   XT004 invalid input (ids, labels, JSON shape)

DO $$
BEGIN
    IF NOT (SELECT r.rolsuper FROM pg_roles r WHERE r.rolname = current_user) THEN
        RAISE EXCEPTION USING ERRCODE = '42501',
            MESSAGE = 'The upgrade of the rights store must be run by a superuser (the database administrator).';
    END IF;
    IF to_regclass('xtrms.xtrms_schema') IS NULL
       OR (SELECT s.version FROM xtrms.xtrms_schema s WHERE s.id = 1) IS DISTINCT FROM 4 THEN
        RAISE EXCEPTION USING ERRCODE = '55000',
            MESSAGE = 'This upgrade turns a version-4 rights store in schema xtrms into version 5.';
    END IF;
END
$$;
--;

-- The label of a right or a role: 1 to 200 characters in NFC, no space at
-- either end, none of the characters a user name may not hold.
CREATE FUNCTION xtrms.xtrms_valid_label(p_label text) RETURNS boolean
LANGUAGE plpgsql IMMUTABLE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    RETURN p_label IS NOT NULL
        AND length(p_label) BETWEEN 1 AND 200
        AND p_label !~ ('[' || chr(1) || '-' || chr(31) || chr(127) || '-' || chr(159)
                        || chr(1564) || chr(8206) || chr(8207) || chr(8232) || chr(8233) || chr(8234) || '-' || chr(8238)
                        || chr(8294) || '-' || chr(8297) || chr(65279) || chr(65534) || chr(65535) || ']')
        AND p_label = normalize(p_label, NFC)
        AND p_label !~ '^ ' AND p_label !~ ' $';
END
$$;
--;

CREATE FUNCTION xtrms.xtrms_check_label(p_label text, p_what text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
BEGIN
    IF NOT xtrms_valid_label(p_label) THEN
        PERFORM xtrms_invalid(format('%s is not valid: it must have 1 to 200 characters in Unicode normal form C, '
            'no space at either end and no control or invisible formatting characters.', p_what));
    END IF;
END
$$;
--;

-- The site's whole definition: rights [{id, name}] and roles [{id, name,
-- super_user, rights}]. Rights and roles it does not list are dropped, but
-- never one a user still holds (nor a right guests get); labels, a role's
-- super-user flag and its rights (what a new user starts with) change;
-- users' own rights stay as they are. Each change is one audit row, in
-- the order rights by id, then roles by id; nothing changed, nothing
-- written. Returns the number of changes.
CREATE FUNCTION xtrms.redefine(p_rights jsonb, p_roles jsonb, p_workstation text, p_os_user text) RETURNS integer
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = xtrms, pg_temp SET lock_timeout = '3s'
AS $$
DECLARE
    v_actor text;
    v_item jsonb;
    v_right jsonb;
    v_n integer := 0;
    v_id integer;
    v_right_id integer;
    v_right_ids integer[] := '{}';
    v_right_names text[] := '{}';
    v_role_ids integer[] := '{}';
    v_role_names text[] := '{}';
    v_role_supers boolean[] := '{}';
    v_role_rights text[] := '{}';
    v_role_list integer[];
    v_before bigint;
    v_count bigint;
    v_row record;
    v_events text[] := '{}';
    v_subjects text[] := '{}';
    v_details text[] := '{}';
BEGIN
    -- Never a session's: an XTRm administrator on a workstation cannot
    -- change what the site's rights are.
    v_actor := xtrms_admin_actor(NULL);
    PERFORM xtrms_lock_head();
    IF jsonb_typeof(p_rights) IS DISTINCT FROM 'array' OR jsonb_typeof(p_roles) IS DISTINCT FROM 'array'
       OR jsonb_array_length(p_rights) = 0 OR jsonb_array_length(p_roles) = 0 THEN
        PERFORM xtrms_invalid('The definition must have at least one right and one role, as JSON arrays.');
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
        IF v_id = ANY (v_right_ids) THEN
            PERFORM xtrms_invalid(format('Right %s is defined twice.', v_id));
        END IF;
        PERFORM xtrms_check_label(v_item ->> 'name', format('The label of right %s', v_id));
        v_right_ids := v_right_ids || v_id;
        v_right_names := v_right_names || (v_item ->> 'name');
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
        IF v_id = ANY (v_role_ids) THEN
            PERFORM xtrms_invalid(format('Role %s is defined twice.', v_id));
        END IF;
        PERFORM xtrms_check_label(v_item ->> 'name', format('The name of role %s', v_id));
        IF lower(v_item ->> 'name') = ANY (SELECT lower(x) FROM unnest(v_role_names) x) THEN
            PERFORM xtrms_invalid(format('Role %s has the name of another role (names are told apart without '
                'regard to case).', v_id));
        END IF;
        v_role_list := '{}';
        FOR v_right IN SELECT e FROM jsonb_array_elements(coalesce(v_item -> 'rights', '[]')) e LOOP
            v_right_id := xtrms_json_int(v_right, format('A right of role %s', v_id));
            IF NOT v_right_id = ANY (v_right_ids) THEN
                PERFORM xtrms_invalid(format('Role %s lists right %s, which is not defined.', v_id, v_right_id));
            END IF;
            v_role_list := v_role_list || v_right_id;
        END LOOP;
        v_role_ids := v_role_ids || v_id;
        v_role_names := v_role_names || (v_item ->> 'name');
        v_role_supers := v_role_supers
            || CASE WHEN v_item ? 'super_user'
                    THEN xtrms_json_bool(v_item -> 'super_user', format('super_user of role %s', v_id))
                    ELSE false END;
        v_role_rights := v_role_rights
            || coalesce((SELECT string_agg(z.y::text, ';' ORDER BY z.y)
                         FROM (SELECT DISTINCT y FROM unnest(v_role_list) y) z), '');
    END LOOP;

    -- Rights by id: what is added, renamed or dropped.
    FOR v_row IN
        SELECT coalesce(o.id, n.id) AS id, o.name AS old_name, n.name AS new_name
        FROM (SELECT r.id, r.name::text AS name FROM xtrms_rights r) o
        FULL JOIN unnest(v_right_ids, v_right_names) AS n(id, name) ON n.id = o.id
        ORDER BY 1
    LOOP
        IF v_row.old_name IS NULL THEN
            v_events := v_events || 'right-added'::text;
            v_details := v_details || v_row.new_name;
        ELSIF v_row.new_name IS NULL THEN
            SELECT count(*) INTO v_count FROM xtrms_user_rights ur WHERE ur.right_id = v_row.id;
            IF v_count > 0 THEN
                RAISE EXCEPTION USING ERRCODE = 'XT002',
                    MESSAGE = format('The right %s (%s) cannot be dropped: it is still granted to %s user(s). '
                        'Withdraw it from them first, or keep it in the definition.', v_row.id, v_row.old_name, v_count);
            END IF;
            IF v_row.id::text = ANY (string_to_array((SELECT p.guest_rights FROM xtrms_policy p WHERE p.id = 1), ';'))
            THEN
                RAISE EXCEPTION USING ERRCODE = 'XT002',
                    MESSAGE = format('The right %s (%s) cannot be dropped: guests get it. Change the guest rights '
                        'first, or keep it in the definition.', v_row.id, v_row.old_name);
            END IF;
            v_events := v_events || 'right-removed'::text;
            v_details := v_details || v_row.old_name;
        ELSIF v_row.old_name <> v_row.new_name THEN
            v_events := v_events || 'right-renamed'::text;
            v_details := v_details || left(v_row.old_name || ' -> ' || v_row.new_name, 512);
        ELSE
            CONTINUE;
        END IF;
        v_subjects := v_subjects || ('right ' || v_row.id);
    END LOOP;

    -- Roles by id, described as the trail records them.
    FOR v_row IN
        SELECT coalesce(o.id, n.id) AS id, o.name AS old_name, o.description AS old_description,
               CASE WHEN n.id IS NOT NULL
                    THEN left(n.name || '; rights ' || coalesce(nullif(n.rights, ''), 'none')
                              || CASE WHEN n.super THEN '; super user' ELSE '' END, 512) END AS new_description
        FROM (SELECT r.id, r.name::text AS name,
                     left(r.name || '; rights '
                          || coalesce((SELECT string_agg(rr.right_id::text, ';' ORDER BY rr.right_id)
                                       FROM xtrms_role_rights rr WHERE rr.role_id = r.id), 'none')
                          || CASE WHEN r.super_user <> 0 THEN '; super user' ELSE '' END, 512) AS description
              FROM xtrms_roles r) o
        FULL JOIN unnest(v_role_ids, v_role_names, v_role_supers, v_role_rights) AS n(id, name, super, rights)
            ON n.id = o.id
        ORDER BY 1
    LOOP
        IF v_row.old_name IS NULL THEN
            v_events := v_events || 'role-added'::text;
            v_details := v_details || v_row.new_description;
        ELSIF v_row.new_description IS NULL THEN
            SELECT count(*) INTO v_count FROM xtrms_users u WHERE u.role_id = v_row.id;
            IF v_count > 0 THEN
                RAISE EXCEPTION USING ERRCODE = 'XT002',
                    MESSAGE = format('The role %s (%s) cannot be dropped: %s user(s) still have it. Give them '
                        'another role first, or keep it in the definition.', v_row.id, v_row.old_name, v_count);
            END IF;
            v_events := v_events || 'role-removed'::text;
            v_details := v_details || v_row.old_name;
        ELSIF v_row.old_description <> v_row.new_description THEN
            v_events := v_events || 'role-changed'::text;
            v_details := v_details || v_row.new_description;
        ELSE
            CONTINUE;
        END IF;
        v_subjects := v_subjects || ('role ' || v_row.id);
    END LOOP;
    IF cardinality(v_events) = 0 THEN
        RETURN 0;
    END IF;

    v_before := xtrms_enabled_super_users();
    DELETE FROM xtrms_rights r WHERE NOT r.id = ANY (v_right_ids);
    INSERT INTO xtrms_rights (id, name) SELECT n.id, n.name FROM unnest(v_right_ids, v_right_names) AS n(id, name)
    ON CONFLICT (id) DO UPDATE SET name = EXCLUDED.name;
    DELETE FROM xtrms_roles r WHERE NOT r.id = ANY (v_role_ids);
    INSERT INTO xtrms_roles (id, name, super_user)
    SELECT n.id, n.name, n.super::integer FROM unnest(v_role_ids, v_role_names, v_role_supers) AS n(id, name, super)
    ON CONFLICT (id) DO UPDATE SET name = EXCLUDED.name, super_user = EXCLUDED.super_user;
    DELETE FROM xtrms_role_rights;
    INSERT INTO xtrms_role_rights (role_id, right_id)
    SELECT n.id, x::integer
    FROM unnest(v_role_ids, v_role_rights) AS n(id, rights)
    CROSS JOIN LATERAL unnest(string_to_array(nullif(n.rights, ''), ';')) AS x;
    IF v_before > 0 AND xtrms_enabled_super_users() = 0 THEN
        RAISE EXCEPTION USING ERRCODE = 'XT002',
            MESSAGE = 'The last enabled super user cannot be removed, disabled or demoted.';
    END IF;
    PERFORM xtrms_audit_append(p_workstation, p_os_user, v_actor, v_events, v_subjects, v_details);
    RETURN cardinality(v_events);
END
$$;
--;

-- Created by the administrator, so owned by him and callable by PUBLIC until
-- said otherwise: the owner's, like every function of the store, and
-- granted to nobody, so that a workstation's account cannot even try.
ALTER FUNCTION xtrms.xtrms_valid_label(text) OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.xtrms_check_label(text, text) OWNER TO xtrms_owner;
--;

ALTER FUNCTION xtrms.redefine(jsonb, jsonb, text, text) OWNER TO xtrms_owner;
--;

REVOKE ALL ON FUNCTION xtrms.xtrms_valid_label(text), xtrms.xtrms_check_label(text, text),
    xtrms.redefine(jsonb, jsonb, text, text)
FROM PUBLIC, xtrms_workstation;
--;

UPDATE xtrms.xtrms_schema SET version = 5 WHERE id = 1;
--;
