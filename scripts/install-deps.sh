#!/usr/bin/env bash
# Installs only the Debian packages that are missing. Works as root on a fresh
# Debian 12 or 13 machine, and through sudo otherwise.
#   install-deps.sh native   what the Linux build and its packages need
#                            (dpkg-dev and file: dependencies of the .deb;
#                            git: the last commit's date, the build's time)
#   install-deps.sh test     also the Windows cross compilers (x86, x64), the
#                            32-bit and 64-bit Wine, and what the tests use
#                            (mandoc and man-db: the man page checks,
#                            lintian: the package check; qemu-system-x86
#                            and busybox-static: the guest layer, whose
#                            kernel scripts/guest-kernel.sh fetches)
#   install-deps.sh coverage the native packages and gcovr (make coverage)
set -euo pipefail

# Boost.Regex in its standalone, header-only mode needs 1.76; Debian's
# unversioned package is older on Debian 12, so a versioned one is taken.
boost_minimum=1.76

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The newest libboost-regexX.Y-dev the archive offers with X.Y >= the minimum.
newest_boost_regex() {
    apt-cache pkgnames libboost-regex |
        sed -n 's/^libboost-regex\([0-9]*\)\.\([0-9]*\)-dev$/\1 \2/p' |
        awk -v min="$boost_minimum" 'BEGIN { split(min, m, ".") }
             $1 > m[1] || ($1 == m[1] && $2 >= m[2])' |
        sort -n -k1,1 -k2,2 | tail -n 1 | sed 's/^\(.*\) \(.*\)$/libboost-regex\1.\2-dev/'
}

boost=$(newest_boost_regex)
if [ -z "$boost" ]; then
    # A fresh machine may not have read the archive's package lists yet.
    as_root apt-get update -q
    boost=$(newest_boost_regex)
fi
if [ -z "$boost" ]; then
    echo "install-deps.sh: the archive offers no libboost-regexX.Y-dev with X.Y >= $boost_minimum" >&2
    exit 1
fi

want=(cmake make g++ pkg-config libgtest-dev "$boost" python3 dpkg-dev file git)
if [ "${1:-native}" = test ]; then
    want+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64
           binutils-mingw-w64-x86-64 python3-pefile wine wine32:i386 wine64
           mandoc man-db lintian qemu-system-x86 busybox-static)
fi
if [ "${1:-native}" = coverage ]; then
    want+=(gcovr)
fi

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
