#!/usr/bin/env bash
# Builds the Debian package from this source tree with dpkg-buildpackage, in a
# copy of the tree (without build/ and .git) at OUT_DIR/atcmd-VERSION, so
# that the results land in OUT_DIR and the tree stays as it was.
#   debian-package.sh OUT_DIR            the binary package (-b)
#   debian-package.sh OUT_DIR --source   the source package too, from an
#                                        upstream tarball of the same copy
# Further arguments go to dpkg-buildpackage. JOBS sets its parallelism.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
shift
kind=-b
if [ "${1:-}" = --source ]; then
    kind=
    shift
fi

# The package's one time stamp is its changelog entry's date, as
# dpkg-buildpackage takes it when none is given: the same however it is built.
unset SOURCE_DATE_EPOCH

version=$(dpkg-parsechangelog -l "$root/debian/changelog" -SVersion)
upstream=${version%-*}
copy=$out/atcmd-$upstream
rm -rf "$copy"
mkdir -p "$copy"
tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -

if [ -z "$kind" ]; then
    # The upstream tarball dpkg-source wants beside the tree: the same copy
    # without debian/, with fixed names, owners and times.
    epoch=$(dpkg-parsechangelog -l "$root/debian/changelog" -STimestamp)
    tar -C "$out" --exclude="atcmd-$upstream/debian" --sort=name --mtime="@$epoch" \
        --owner=0 --group=0 --numeric-owner -cf - "atcmd-$upstream" |
        xz -6 >"$out/atcmd_$upstream.orig.tar.xz"
fi

cd "$copy"
dpkg-buildpackage $kind -us -uc -j"${JOBS:-$(nproc)}" "$@"
