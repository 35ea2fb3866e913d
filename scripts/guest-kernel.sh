#!/usr/bin/env bash
# Fetches the kernel package that linux-image-amd64 depends on (whatever
# version the archive has) and unpacks it, without installing it, for the
# guest layer's QEMU boot:
#   guest-kernel.sh DIR   leaves DIR/root (the package's files) and prints
#                         the kernel image's path
# Needs apt-get and dpkg-deb; no root. A package already unpacked is reused.
set -euo pipefail

dir=${1:?usage: guest-kernel.sh DIR}
package=$(apt-cache depends linux-image-amd64 2>/dev/null |
              sed -n 's/^ *Depends: \(linux-image-[^ <>]*\)$/\1/p' | head -n 1)
if [ -z "$package" ]; then
    echo "guest-kernel.sh: the archive names no kernel for linux-image-amd64" >&2
    exit 1
fi
mkdir -p "$dir"
if [ ! -f "$dir/$package.unpacked" ]; then
    rm -rf "$dir/root" "$dir"/*.deb
    (cd "$dir" && apt-get download -q "$package" >&2)
    dpkg-deb -x "$dir"/"$package"_*.deb "$dir/root"
    rm -f "$dir"/*.unpacked "$dir"/*.deb
    touch "$dir/$package.unpacked"
fi
ls "$dir"/root/boot/vmlinuz-* | head -n 1
