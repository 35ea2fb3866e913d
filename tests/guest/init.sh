#!/bin/busybox sh
# The guest's init: loads the USB gadget modules and the host's drivers
# (cdc_acm, qcserial, option), plugs in the gadgets of /gadgets.sh, one per
# dummy controller (the first, three ACM functions: the host side is
# /dev/ttyACM0 to 2, the modem's side /dev/ttyGS0 to 2), runs each line's
# rows (/lines/*.sh) side by side, then the port list's (/lines/list.sh),
# then those of /lines/last.sh, prints the results on the console and
# powers off. The UART /dev/ttyS1 is wired to /dev/ttyS2, where the modem
# plays for the UART rows.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts  # the ptys where modemsim plays the FunctionFS gadgets' modems
mount -t devpts devpts /dev/pts
for module in $(cat /modules/order); do
    insmod /modules/$module.ko $(cat /modules/$module.args 2>/dev/null) || echo "guest: insmod $module failed"
done
mount -t configfs configfs /sys/kernel/config
mkdir -p /out
gadgets=/sys/kernel/config/usb_gadget
acm=$gadgets/acm  # the one the reset rows unplug

# Waits up to 10 s for a file.
await() {
    waited=0
    while [ ! -e "$1" ] && [ $waited -lt 200 ]; do sleep 0.05; waited=$((waited + 1)); done
}

# Makes one gadget and plugs it into dummy controller INDEX; the modem's
# side of function number INTERFACE (an ffs function's always) is linked as
# /dev/NAME.modem ("-": none).
#   gadget INDEX NAME VENDOR PRODUCT INTERFACE BEHAVIOUR FUNCTION...
gadget() {
    index=$1 name=$2 interface=$5 behaviour=$6
    mkdir $gadgets/$name $gadgets/$name/configs/c.1
    echo $3 > $gadgets/$name/idVendor
    echo $4 > $gadgets/$name/idProduct
    shift 6
    number=0
    for kind in "$@"; do
        function=$gadgets/$name/functions/$kind.$name$number
        mkdir $function
        ln -s $function $gadgets/$name/configs/c.1/
        if [ $kind = ffs ]; then
            mkdir -p /dev/ffs/$name
            mount -t functionfs $name$number /dev/ffs/$name
            usb_function /dev/ffs/$name /dev/$name.modem /out/$name.control $behaviour > /out/$name.err 2>&1 &
            await /dev/ffs/$name/ep1
        elif [ $number = "$interface" ]; then
            ln -s /dev/ttyGS$(cat $function/port_num) /dev/$name.modem
        fi
        number=$((number + 1))
    done
    echo dummy_udc.$index > $gadgets/$name/UDC
    [ $interface = - ] || ports="$ports $index:$name:$interface"
}

# Links each gadget's AT port, once its driver has made it, as /dev/NAME.port.
link_ports() {
    for port in $ports; do
        index=${port%%:*}
        name=${port#*:}
        name=${name%:*}
        interface=${port##*:}
        device=/sys/devices/platform/dummy_hcd.$index
        waited=0
        while [ $waited -lt 200 ]; do
            tty=$(ls -d $device/usb*/*-1/*-1:1.$interface/tty* 2>/dev/null | head -n 1)
            [ -n "$tty" ] && break
            sleep 0.05
            waited=$((waited + 1))
        done
        [ -n "$tty" ] && ln -s /dev/${tty##*/} /dev/$name.port || echo "guest: no port for $name"
    done
}

now() { read -r seconds rest < /proc/uptime; echo "$seconds"; }

# What the console (the 8250's port 0) has sent so far.
console_tx() { sed -n 's/^0: .* tx:\([0-9]*\) .*/\1/p' /proc/tty/driver/serial; }

# A port-list row: modemsim on each TTY with its script (/rows/NAME/SCRIPT),
# another atcmd holding LOCKED ("-": none), the program run once; what the
# console had sent before and after it goes to console_tx.
#   list_row NAME LOCKED TTY=SCRIPT... -- ARGS...
list_row() {
    name=$1 locked=$2
    shift 2
    out=/out/$name
    mkdir -p $out
    cd $out
    modems= number=0
    while [ "$1" != -- ]; do
        number=$((number + 1))
        modemsim --tty ${1%%=*} --idle-exit 60 --log $out/rx$number --script /rows/$name/${1#*=} \
            > $out/modem$number.out 2>> $out/modem.err &
        modems="$modems $!"
        while [ ! -s $out/modem$number.out ] && kill -0 $! 2>/dev/null; do sleep 0.02; done
        shift
    done
    shift
    holder=
    if [ $locked != - ]; then
        atcmd /port $locked /resp never /timeout 20000 2>/dev/null & holder=$!
        sleep 0.5
    fi
    before=$(console_tx)
    now > $out/start
    atcmd "$@" > $out/out 2> $out/err
    echo $? > $out/status
    now > $out/end
    echo $before $(console_tx) > $out/console_tx
    echo "guest: $name: $(cat $out/status), $(cat $out/start) to $(cat $out/end)"
    [ -n "$holder" ] && kill $holder && wait $holder 2>/dev/null
    for modem in $modems; do kill $modem; wait $modem 2>/dev/null; done
    cd /
}

# The port list's rows run alone, before the last rows (which leave the
# ACM link stalled, its modem's side holding what never went out), on the
# ACM and Gobi gadgets and the 8250s: the other gadgets are unplugged, and
# the ACM gadget plugged in again; every port they list is there first.
list_rows() {
    for name in $(ls $gadgets); do
        case $name in acm|gobi) ;; *) echo > $gadgets/$name/UDC 2>/dev/null ;; esac
    done
    echo > $acm/UDC 2>/dev/null
    for port in /dev/ttyACM0 /dev/ttyACM1 /dev/ttyACM2; do
        waited=0
        while [ -e $port ] && [ $waited -lt 200 ]; do sleep 0.05; waited=$((waited + 1)); done
    done
    echo dummy_udc.0 > $acm/UDC
    for port in /dev/ttyACM0 /dev/ttyACM1 /dev/ttyACM2 /dev/gobi.port; do await $port; done
    . /lines/list.sh
}

# Plugs the ACM modem in again and waits until its port is there.
plug() {
    echo dummy_udc.0 > $acm/UDC
    await /dev/ttyACM2
}
unplug() {
    echo > $acm/UDC 2>/dev/null
    waited=0
    while [ -e /dev/ttyACM0 ] && [ $waited -lt 200 ]; do sleep 0.05; waited=$((waited + 1)); done
}

# Opens fd 3 (standard output) or 4 (traces) as a row wants it: a file, a
# pipe nobody reads, or a pipe whose reader is gone.
stream() { # fd kind file
    pipe=/tmp/$name.$1  # one per line: the lines run side by side
    rm -f $pipe
    case $2 in
    file) eval "exec $1>$3" ;;
    stalled) mkfifo $pipe && eval "exec $1<>$pipe" ;;
    closed) mkfifo $pipe && eval "exec 9<>$pipe $1>$pipe 9<&-" ;;
    esac
}

start_modem() { # modem-tty modem-args
    eval "exec modemsim --tty $1 --idle-exit 60 --log \$out/rx $2" > $out/modem.out 2> $out/modem.err &
    modem=$!
    while [ ! -s $out/modem.out ] && kill -0 $modem 2>/dev/null; do sleep 0.02; done
}

# One row: the program run `repeat` times (until a run ends with another
# status than EXPECTED) on one line, with the modem started as `setup` says:
#   row NAME MODEM-TTY PORT KIND STDOUT TRACES SETUP REPEAT EXPECTED MODEM-ARGS ARGS...
# KIND: modem | locked (an earlier run holds PORT) | held (`sleep` has it
# open, without a lock) | none (no modem).
# SETUP: now | late (the modem comes 1 s into the run) | reset (the
# gadget is unplugged 1 s into the run, and plugged in again after) |
# frozen (a command of 100,000 bytes is sent first, to fill the link).
row() {
    name=$1 tty=$2 port=$3 kind=$4 stdout=$5 traces=$6 setup=$7 repeat=$8 expected=$9 modem_args=${10}
    shift 10
    out=/out/$name
    mkdir -p $out
    cd /rows/$name 2>/dev/null || cd $out
    modem= holder=
    [ $kind != none ] && [ $setup != late ] && start_modem $tty "$modem_args"
    if [ $kind = locked ]; then
        atcmd /port $port /resp never /timeout 5000 2>/dev/null & holder=$!
        sleep 0.5
    fi
    [ $kind = held ] && { sleep 600 < $port & holder=$!; }
    if [ $setup = frozen ]; then
        atcmd /port $port /cmd "$(head -c 100000 /dev/zero | tr '\0' A)" /timeout 1000 >/dev/null 2>&1
        echo "guest: $name: link filled $(now)"
    fi
    run=0
    while [ $run -lt $repeat ]; do
        run=$((run + 1))
        stream 3 $stdout $out/out
        stream 4 $traces $out/err
        now > $out/start
        atcmd "$@" >&3 2>&4 &
        program=$!
        case $setup in
        late) sleep 1; start_modem $tty "$modem_args" ;;
        reset) sleep 1; unplug ;;
        esac
        wait $program
        status=$?
        now > $out/end
        echo $(cat $out/start $out/end) >> $out/times
        echo $status > $out/status
        exec 3>&- 4>&-
        [ $expected = any ] || [ $status = $expected ] || break
    done
    echo $run > $out/runs
    echo "guest: $name: $status, run $run, $(cat $out/start) to $(cat $out/end)"
    [ -n "$holder" ] && kill $holder && wait $holder 2>/dev/null
    # The gadget's close waits up to 15 s for what the modem still had
    # queued (a flood): reading the port meanwhile lets it go at once.
    if [ -n "$modem" ]; then
        cat $port > /dev/null 2>&1 &
        drain=$!
        kill $modem
        wait $modem 2>/dev/null
        kill $drain
        wait $drain 2>/dev/null
    fi
    [ $setup = reset ] && unplug && plug
    cd /
}

ports=
. /gadgets.sh
await /dev/ttyACM2
link_ports
echo "guest: ready $(now)"
lines=
for line in /lines/*.sh; do
    case $line in /lines/last.sh | /lines/list.sh) ;; *) . $line & lines="$lines $!" ;; esac
done
wait $lines  # not the gadgets' programs, which run on
list_rows
. /lines/last.sh
echo "guest: rows done $(now)"
echo "guest results begin"
tar -C /out -c . | gzip | base64
echo "guest results end"
echo "guest: results sent $(now)"
poweroff -f
