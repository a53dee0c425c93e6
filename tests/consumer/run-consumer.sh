#!/bin/bash
# Installs this build into a temporary prefix, builds the consumer host
# against that package alone, and runs it under Wine: a broken export, a
# header missing from the install or an unusable package configuration fails.
#   run-consumer.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src="$1"
build="$2"
work="$build/consumer"
rm -rf "$work"
mkdir -p "$work"

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"
cmake -S "$src/tests/consumer" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }

# What a host asks of the package's version and components is answered
# truly: an older major version or an unknown component is not found.
probe() {
    local want="$1" components="$2" dir="$work/probe-$3"
    mkdir -p "$dir"
    printf '%s\n' "cmake_minimum_required(VERSION 3.20)" "project(Probe CXX)" \
        "find_package(XTRm $want QUIET COMPONENTS $components)" \
        'if(NOT XTRm_FOUND)' '    message(FATAL_ERROR "XTRm not found")' 'endif()' > "$dir/CMakeLists.txt"
    cmake -S "$dir" -B "$dir/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" \
        -DCMAKE_PREFIX_PATH="$work/prefix" >"$dir/configure.log" 2>&1
}
probe 2.0 "Service HostLibs mfc" all || { echo "consumer: XTRm 2.0 with its components not found"; cat "$work/probe-all/configure.log"; exit 1; }
if probe 1.1 "Service" old; then echo "consumer: find_package(XTRm 1.1) accepted a 2.x package"; exit 1; fi
if probe 2.0 "NoSuchPart" unknown; then echo "consumer: an unknown component was found"; exit 1; fi
# No path to the package: xtrm_deploy_runtime put every DLL beside the program.
"$build/wine-run" --timeout 120 "$work/build/XTRmConsumer.exe"
# A main window that cannot load its toolbar is reported with the resource
# and the system's reason, and the program ends with its failure code.
# (wine-run passes the program's stderr on with its stdout.)
rc=0
"$build/wine-run" --timeout 120 "$work/build/XTRmConsumer.exe" /missing-toolbar >"$work/missing.log" 2>&1 || rc=$?
if [[ $rc -ne 2 ]] || ! grep -q 'the main window cannot be shown: toolbar 201 cannot be loaded ([^)]' "$work/missing.log"; then
    echo "consumer: a toolbar that cannot be loaded was not reported (exit code $rc)"
    cat "$work/missing.log"
    exit 1
fi
grep 'cannot be shown' "$work/missing.log"

# Without its DLLs the program does not start, and the runner says which one
# is missing instead of ending silently.
mkdir -p "$work/alone"
cp "$work/build/XTRmConsumer.exe" "$work/alone/"
rc=0
"$build/wine-run" --timeout 60 "$work/alone/XTRmConsumer.exe" >"$work/alone.log" 2>&1 || rc=$?
if [[ $rc -eq 0 ]] || ! grep -q 'XTRm.dll.*not found' "$work/alone.log" || ! grep -q 'a DLL it needs is missing' "$work/alone.log"; then
    echo "consumer: a program without its DLLs was not reported (exit code $rc)"
    cat "$work/alone.log"
    exit 1
fi
