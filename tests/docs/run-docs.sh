#!/bin/bash
# The host that the documents spell out, built as they stand: the files of
# README.md's quick start and testkit/README.md's rights test are written out
# of the Markdown, built against this build's installed package alone, and
# the rights test runs under Wine. A snippet that no longer compiles, links
# or behaves as the text says fails here.
#   run-docs.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src="$1"
build="$2"
work="$build/docs-host"
rm -rf "$work"
mkdir -p "$work"

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"
bash "$src/tools/doc-files.sh" "$work/host" "$src/README.md" "$src/service/README.md" "$src/testkit/README.md"
# The toolbar's bitmap is the one file the text cannot hold.
cp "$src/resources/XTRmDemoToolbar.bmp" "$work/host/toolbar.bmp"

build_project() {
    local dir="$1" out="$2"
    cmake -S "$dir" -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_PREFIX_PATH="$work/prefix" >"$out.configure.log" 2>&1 ||
        { cat "$out.configure.log"; echo "docs: $dir does not configure"; exit 1; }
    cmake --build "$out" >"$out.build.log" 2>&1 || { cat "$out.build.log"; echo "docs: $dir does not build"; exit 1; }
}
build_project "$work/host" "$work/build-host"
build_project "$work/host/tests" "$work/build-tests"

# xtrm_deploy_runtime put every DLL the program needs beside it: it runs
# without a path to the package.
for dll in XTRm.dll XTRms.dll XTHostLibs.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    [[ -f "$work/build-host/$dll" ]] || { echo "docs: $dll was not deployed beside PlantControl.exe"; exit 1; }
done
"$build/wine-run" --timeout 120 "$work/build-tests/PlantRightsTest.exe"

# The definition files provision stores with the installed console, as the
# documents say, the passwords piped in; the quick start's file then agrees
# with what PlantControl's own configuration defines.
win() { echo "Z:${1//\//\\}"; }
xtrms() { "$build/wine-run" --timeout 120 "$work/prefix/bin/xtrms.exe" "$@"; }
cd "$work/host"
for ini in plant.ini site.ini; do
    db="$(win "$work/${ini%.ini}.db")"
    xtrms create --define "$ini" --db "$db" >"$work/$ini.log" || { cat "$work/$ini.log"; echo "docs: $ini does not provision a store"; exit 1; }
done
printf 'shift-2026\n' | xtrms add-user olga --role Operator --db "$(win "$work/plant.db")" >>"$work/plant.ini.log"
printf 'report-2026\n' | xtrms add-user bob --role Operator --db "$(win "$work/site.db")" >>"$work/site.ini.log"
xtrms list --db "$(win "$work/plant.db")" | grep -q '^olga.*Operator.*has-password' ||
    { xtrms list --db "$(win "$work/plant.db")"; echo "docs: olga was not provisioned from plant.ini"; exit 1; }
xtrms list --db "$(win "$work/site.db")" | grep -q '^bob.*Operator.*has-password' ||
    { echo "docs: bob was not provisioned from site.ini"; exit 1; }
