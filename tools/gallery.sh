#!/bin/bash
# Refreshes docs/screenshots/: runs the demo headless on a fresh store, and
# with PostgreSQL's server binaries also its rights-server start-up on a
# throwaway loopback cluster, and keeps the pictures the README shows.
#   gallery.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
work="$build/gallery"
out="$root/docs/screenshots"
rm -rf "$work"
mkdir -p "$work/local" "$work/server" "$out"
win() { echo "Z:${1//\//\\}"; }
# A second run changes no picture: the demo's --gallery fixes its clock,
# workstation and closed port; the store lies at the same Windows path on
# every machine (inside the build's Wine prefix), the rights server on the
# same port, and the trail names the same operating-system user.
prefix="${XTRM_WINEPREFIX:-$build/wineprefix}"
store_dir="$prefix/drive_c/ProgramData/PlantDemo"
rm -rf "$store_dir"
mkdir -p "$store_dir"
export USER=operator LOGNAME=operator
export XTRM_PG_PORT=54329

# Picture kept under its gallery name: source file, gallery file.
keep() {
    [[ -f "$1" ]] || { echo "gallery: $1 was not produced" >&2; exit 1; }
    cp "$1" "$out/$2"
    echo "gallery: docs/screenshots/$2"
}

"$build/wine-run" --timeout 300 XTRmDemo.exe --headless --gallery --database 'C:\ProgramData\PlantDemo\XTRmDemo.db' \
    --out "$(win "$work/local")" >"$work/local.log"
keep "$work/local/login-wrong-password.png" login.png
keep "$work/local/login-account-locked.png" refusal-locked.png
keep "$work/local/main-window.png" main-window-administrator.png
keep "$work/local/main-window-operator.png" main-window-operator.png
keep "$work/local/menu-file-operator.png" menu-file-operator.png
keep "$work/local/user-management.png" user-management.png
keep "$work/local/add-user.png" add-user.png
keep "$work/local/settings.png" settings.png
keep "$work/local/change-password.png" change-password.png
keep "$work/local/password-expired.png" password-expired.png
keep "$work/local/audit-trail.png" audit-trail.png
keep "$work/local/signature.png" signature.png
keep "$work/local/lock.png" lock.png

if bash "$root/tools/pg-cluster.sh" start "$work/postgres" --if-available >"$work/postgres.log" 2>&1 &&
    [[ -f "$work/postgres/port" ]]; then
    trap 'bash "$root/tools/pg-cluster.sh" stop "$work/postgres" >/dev/null 2>&1 || true' EXIT
    "$build/wine-run" --timeout 300 XTRmDemo.exe --headless --gallery --server "$(win "$work/postgres")" \
        --out "$(win "$work/server")" >"$work/server.log"
    keep "$work/server/startup-01-XTRmRestrictionSourceSelectorDlg.png" source-selector.png
    keep "$work/server/startup-04-message-box.png" refusal-unreachable.png
    keep "$work/server/startup-05-XTRmConnectionSettingsDlg.png" connection-settings.png
else
    echo "gallery: no PostgreSQL server here, the rights-server pictures stay as they are"
fi
