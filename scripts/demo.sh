#!/usr/bin/env bash
# One AT transaction against the bundled fake modem: shows the traces and the
# exit code. Usage: demo.sh BIN_DIR (the folder holding atcmd and modemsim).
set -euo pipefail
bin=${1:-build/release/bin}

coproc MODEM { exec "$bin/modemsim" --idle-exit 30; }
modem_pid=$MODEM_PID
trap 'kill "$modem_pid" 2>/dev/null || true' EXIT
read -r tty <&"${MODEM[0]}"
echo "fake modem on $tty"
echo "\$ atcmd /port $tty /cmd ATI /resp OK /timeout 3000"
echo

status=0
answer=$(mktemp)
trap 'kill "$modem_pid" 2>/dev/null || true; rm -f "$answer"' EXIT
# Traces go to standard error, the modem's answer to standard output.
"$bin/atcmd" /port "$tty" /cmd ATI /resp OK /timeout 3000 >"$answer" || status=$?
echo
echo "standard output (the modem's answer, carriage returns shown as ^M):"
cat -v "$answer"
# The process exit code is the result's low byte: 255 is -1, 254 is -2.
case $status in
    1) meaning="1: the expected response was seen" ;;
    255) meaning="-1: failure" ;;
    254) meaning="-2: the time limit ran out" ;;
    *) meaning="unexpected" ;;
esac
echo
echo "exit code $status ($meaning)"
[ "$status" -eq 1 ]
