#!/usr/bin/env bash
# Installs only the Debian packages that are missing for one make target.
# Works as root on a fresh Debian 12 or 13 machine, and through sudo otherwise.
#   install-deps.sh native    debian/control's build dependencies, through
#                             `apt-get build-dep` (with build-essential: make
#                             demo, make install, the release tree, the .deb);
#                             file: the .deb's checks; git: the last commit's
#                             date, the build's time
#   install-deps.sh package   also the Windows cross compilers, x86 and x64
#                             (make package, the Windows trees); no Wine
#   install-deps.sh test      also what the tests use (debootstrap and the
#                             archive's keys: the test chroot in which Wine
#                             runs the Windows programs, scripts/testroot, so
#                             that this machine gets no Wine and no foreign
#                             architecture; python3-pefile: the .exe checks;
#                             mandoc and man-db: the man page checks;
#                             lintian: the package check; qemu-system-x86 and
#                             busybox-static: the guest layer, whose kernel
#                             scripts/guest-kernel.sh fetches)
#   install-deps.sh coverage  the native packages and gcovr (make coverage)
#
# The archive may be having a bad day. A package list that `apt-get update`
# cannot fetch (a mirror being synchronised) is a warning, named: apt goes on
# with the lists it has. A needed package that cannot be installed ends the
# script, named, with apt's reason.
set -euo pipefail

target=${1:-native}
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# A concurrent apt or dpkg (another install, unattended upgrades) is waited
# for, up to ten minutes, instead of failing at once. English messages, so
# that the failed lists and apt's reasons can be picked out.
apt_get=(env LC_ALL=C DEBIAN_FRONTEND=noninteractive
         apt-get -q -o DPkg::Lock::Timeout=600)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

say() { echo "install-deps.sh: $*" >&2; }
indent() { sed 's/^/    /' >&2; }

# What apt says about an install it refused: from the unmet dependencies or
# its first error on.
apt_account() { sed -n '/unmet dependencies\|^E: /,$p'; }

# apt-get update. Lists it cannot fetch are a warning that names them: apt
# keeps the copies it had, or has none, and the install below says which
# package that leaves out. It does not wait for another apt's lock on the
# lists (DPkg::Lock::Timeout covers dpkg's lock only): that wait is here.
update_lists() {
    local log status tries
    log=$(mktemp)
    for ((tries = 60; ; tries--)); do
        status=0
        as_root "${apt_get[@]}" update 2>&1 | tee "$log" || status=$?
        if [ "$status" -eq 0 ] || [ "$tries" -le 1 ] ||
           ! grep -q '^E: Could not get lock /var/lib/apt/lists/' "$log"; then
            break
        fi
        say "another apt is updating the package lists; trying again in 10 s"
        sleep 10
    done
    if [ "$status" -ne 0 ]; then
        say "warning: apt-get update ended with status $status; going on with the package lists apt has."
        if grep -q '^[EW]: Failed to fetch ' "$log"; then
            say "These lists could not be fetched:"
            sed -n 's/^[EW]: Failed to fetch //p' "$log" | indent
        else
            grep '^[EW]: ' "$log" | indent || true
        fi
    fi
    rm -f "$log"
}

# apt-get with the arguments given (an install, a build-dep), non-interactive,
# without recommends. On failure, $apt_reason holds apt's account of it (the
# unmet dependencies, its errors).
apt_reason=
apt_run() {
    local log status=0
    log=$(mktemp)
    as_root "${apt_get[@]}" "$@" -y --no-install-recommends 2>&1 | tee "$log" || status=$?
    apt_reason=$(apt_account <"$log")
    rm -f "$log"
    return "$status"
}

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed'
}

case "$target" in
    native|package|test|coverage) ;;
    *) say "unknown target '$target' (native, package, test or coverage)"; exit 2 ;;
esac

# The build dependencies are debian/control's, and only there: every target
# builds the program, and `apt-get build-dep` of this tree installs them with
# build-essential (dpkg-buildpackage refuses to start without it).
# dpkg-checkbuilddeps, dpkg-buildpackage's own check, says whether any is
# missing; without dpkg-dev, which build-essential brings, they all are.
build_deps_missing() {
    ! command -v dpkg-checkbuilddeps >/dev/null ||
        ! dpkg-checkbuilddeps "$top/debian/control" >/dev/null 2>&1
}

# What a target needs beyond them, one list per target; a target also gets
# the lists of those it builds on.
native_packages=(file git)
package_packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686
                  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64)
test_packages=(debootstrap debian-archive-keyring python3-pefile mandoc man-db lintian qemu-system-x86 busybox-static)
coverage_packages=(gcovr)

case "$target" in
    native)   want=("${native_packages[@]}") ;;
    package)  want=("${native_packages[@]}" "${package_packages[@]}") ;;
    test)     want=("${native_packages[@]}" "${package_packages[@]}" "${test_packages[@]}") ;;
    coverage) want=("${native_packages[@]}" "${coverage_packages[@]}") ;;
esac

missing=()
for pkg in "${want[@]}"; do
    installed "$pkg" || missing+=("$pkg")
done
build_deps=0
build_deps_missing && build_deps=1
[ ${#missing[@]} -eq 0 ] && [ "$build_deps" -eq 0 ] && exit 0

update_lists

if [ "$build_deps" -eq 1 ]; then
    echo "installing the build dependencies debian/control names"
    if ! apt_run build-dep "$top/"; then
        say "apt-get build-dep failed; these build dependencies stay unmet:"
        (dpkg-checkbuilddeps "$top/debian/control" 2>&1 || true) | indent
        [ -n "$apt_reason" ] && indent <<<"$apt_reason"
        exit 1
    fi
fi
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
if ! apt_run install "${missing[@]}"; then
    # Which of them apt cannot install, each with its reason; when none
    # alone is refused (a download or dpkg failed), apt's account of the
    # whole install.
    failed=()
    refused=0
    for pkg in "${missing[@]}"; do
        installed "$pkg" && continue
        failed+=("$pkg")
        if ! said=$("${apt_get[@]}" --simulate install --no-install-recommends "$pkg" 2>&1); then
            say "$pkg cannot be installed:"
            apt_account <<<"$said" | indent
            refused=1
        fi
    done
    if [ "$refused" -eq 0 ] && [ -n "$apt_reason" ]; then
        say "apt-get install failed:"
        indent <<<"$apt_reason"
    fi
    say "make $target needs these packages, which are not installed: ${failed[*]}"
    exit 1
fi

exit 0
