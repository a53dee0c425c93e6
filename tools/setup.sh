#!/bin/bash
# Installs what a fresh Debian machine lacks to build and run XTRm here:
# MinGW-w64 (-posix), Wine, Xvfb, CMake, Ninja, boost, GoogleTest, clang-format
# (the house style's check), and for the
# rights service unixODBC with the SQLite and PostgreSQL drivers and PostgreSQL
# itself. Idempotent.
set -euo pipefail

packages=(g++-mingw-w64-x86-64-posix wine wine64 fonts-wine libfreetype6 xvfb x11-utils cmake ninja-build libboost-dev googletest imagemagick catch2 clang-format python3
          unixodbc libsqliteodbc odbc-postgresql postgresql)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if (( ${#missing[@]} )); then
    echo "setup: installing ${missing[*]}"
    SUDO=""
    [[ $(id -u) -eq 0 ]] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
