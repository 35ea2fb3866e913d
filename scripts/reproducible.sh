#!/usr/bin/env bash
# Builds the last commit twice, from two clones at two different paths and
# at two different times (`make package` in each), and compares every shipped
# file byte for byte. The clones are deleted afterwards unless KEEP=1.
set -euo pipefail

repo=$(git rev-parse --show-toplevel)
# Both clones build this commit, even if another is made meanwhile.
commit=$(git rev-parse HEAD)
jobs=${JOBS:-$(nproc)}
work=$(mktemp -d /tmp/atcmd-reproducible.XXXXXX)
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
shipped=(build/release/bin/atcmd build/release/bin/modemsim
         build/win32/bin/atcmd.exe build/win32/bin/atcmd-trace.exe
         build/win64/bin/atcmd.exe build/win64/bin/atcmd-trace.exe
         build/atcmd_*_amd64.deb build/atcmd-dbgsym_*_amd64.deb
         build/release/atcmd-*-windows.zip)

for clone in "$work/first" "$work/second/at/another/depth"; do
    git clone -q "$repo" "$clone"
    git -C "$clone" checkout -q "$commit"
    make -C "$clone" package JOBS="$jobs"
done

status=0
for pattern in "${shipped[@]}"; do
    for first in "$work"/first/$pattern; do
        second=$work/second/at/another/depth/${first#"$work"/first/}
        if cmp -s "$first" "$second"; then
            echo "same:    ${first#"$work"/first/}"
        else
            echo "DIFFERS: ${first#"$work"/first/}"
            status=1
        fi
    done
done
exit $status
