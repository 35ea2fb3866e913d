#!/bin/sh
# Run by scripts/testroot/testroot.py as root in a new, private mount
# namespace: mounts what a command in the test chroot needs and runs it
# there, in the folder this was started in. Every mount ends with the
# namespace.
#   enter.sh CHROOT SOURCE_TREE THROWAWAY_FOLDER|"" COMMAND [ARG...]
set -e
root=$1 source=$2 layer=$3 cwd=$(pwd -P)
shift 3
if [ -n "$layer" ]; then
    mount -t tmpfs throwaway "$layer"
    mkdir "$layer/upper" "$layer/work" "$layer/merged"
    mount -t overlay throwaway -o "lowerdir=$root,upperdir=$layer/upper,workdir=$layer/work" "$layer/merged"
    root=$layer/merged
fi
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mkdir -p "$root$source"
mount --bind "$source" "$root$source"
mount --bind /tmp "$root/tmp"
exec chroot "$root" /usr/bin/env -C "$cwd" "$@"
