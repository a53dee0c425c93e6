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
# The MinGW runtime comes with the SDK, on the program's path.
export WINEPATH="Z:${work//\//\\}\\prefix\\bin"
"$build/wine-run" --timeout 120 "$work/build/XTRmConsumer.exe"
