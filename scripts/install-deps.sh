#!/usr/bin/env bash
# Installs only the Debian packages that are missing. Works as root on a fresh
# Debian 12 machine, and through sudo otherwise.
#   install-deps.sh native   what the Linux build and its packages need
#                            (dpkg-dev and file: dependencies of the .deb)
#   install-deps.sh test     also the Windows cross compilers (x86, x64), the
#                            32-bit and 64-bit Wine, and what the tests use
#                            (mandoc and man-db: the man page checks)
#   install-deps.sh coverage the native packages and gcovr (make coverage)
set -euo pipefail

want=(cmake make g++ pkg-config libgtest-dev libboost-regex1.81-dev python3 dpkg-dev file)
if [ "${1:-native}" = test ]; then
    want+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64
           binutils-mingw-w64-x86-64 python3-pefile wine wine32:i386 wine64
           mandoc man-db)
fi
if [ "${1:-native}" = coverage ]; then
    want+=(gcovr)
fi

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed'
}

missing=()
for pkg in "${want[@]}"; do
    installed "$pkg" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
for pkg in "${missing[@]}"; do
    case "$pkg" in
        *:i386)
            dpkg --print-foreign-architectures | grep -qx i386 ||
                as_root dpkg --add-architecture i386 ;;
    esac
done
export DEBIAN_FRONTEND=noninteractive
as_root apt-get update -q
as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
