#!/usr/bin/env bash
# Whether this kernel runs 32-bit x86 (i386) programs, which the 32-bit Wine
# needs: some x86-64 kernels run none ("Exec format error"). Decided by
# starting one: the 93 bytes below are a complete static i386 ELF program
# that only exits with status 0 (mov eax, 1; xor ebx, ebx; int 0x80).
# Nothing is installed or looked up.
#   exit 0  it ran
#   exit 1  the kernel refused it; standard output says so in one line
#   exit 2  it could not be tried (say, the temporary folder is mounted
#           noexec); standard output says why in one line
# Used by the Wine helper of the tests: the x86 Wine tests are skipped where
# the kernel refuses it.
set -uo pipefail
# The shell's own message names the failing call's error: in English, so
# that "Exec format error" can be recognised whatever the locale.
export LC_ALL=C

dir=$(mktemp -d "${TMPDIR:-/tmp}/atcmd-i386-probe.XXXXXX") || {
    echo "no temporary folder for the i386 test program"
    exit 2
}
trap 'rm -rf "$dir"' EXIT
probe=$dir/exit0

{
    # ELF header: 32-bit, little-endian, executable for the 386, entry
    # 0x08048054.
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
    printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000'
    printf '\000\000\000\000'
    # One program header: the whole file, read and execute, at 0x08048000.
    printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
    printf '\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000'
    # The code: exit(0) through the i386 system call gate.
    printf '\270\001\000\000\000\061\333\315\200'
} >"$probe"
chmod +x "$probe"

said=$("$probe" 2>&1)
status=$?
said=${said##*: }
if [ "$status" -eq 0 ]; then
    exit 0
elif [ "$said" = "Exec format error" ]; then
    echo "this kernel runs no 32-bit x86 code (an i386 program fails with \"$said\")"
    exit 1
else
    echo "an i386 test program could not be tried: exit status $status${said:+, \"$said\"}"
    exit 2
fi
