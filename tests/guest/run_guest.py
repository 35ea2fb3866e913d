#!/usr/bin/env python3
"""The guest layer: the release program on the kernel's real serial drivers
in a QEMU guest (Debian's kernel, busybox), one boot for every row.

    run_guest.py --list                      the rows' test names
    run_guest.py --boot --exe ... --modemsim ... --kernel-dir DIR --results DIR
                                             boots once, runs every row,
                                             keeps each row's results
    run_guest.py --case NAME --results DIR   checks one row's results

Exit status: 0 passed, 1 failed, 77 skipped (with the reason on a line
starting with "SKIPPED: ").
"""

import argparse
import base64
import dataclasses
import io
import os
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
for folder in ('.', '../e2e', '../runner', '../wine'):
    sys.path.insert(0, os.path.join(HERE, folder))

import gadgets  # noqa: E402
import guest_rows  # noqa: E402
import initramfs  # noqa: E402
import run_scenario  # noqa: E402
import wine  # noqa: E402

KERNEL_SCRIPT = os.path.join(HERE, '..', '..', 'scripts', 'guest-kernel.sh')
BUSYBOX = '/bin/busybox'
QEMU = 'qemu-system-x86_64'


@dataclasses.dataclass
class Accel:
    """How QEMU runs the guest, and the limits that follow from it."""
    name: str
    option: str
    boot_limit: float     # the watchdog: a guest still up by then is killed
    ready_limit: float    # a guest not ready by then is given up for the next accelerator
    start_slack: float    # more time a run may take than on the host


# KVM where it works, else TCG. A /dev/kvm may be there and yet run no guest
# (nested virtualisation that fails: the guest prints nothing), so KVM is
# tried with a short bound first. A guest without KVM, on a busy machine,
# starts programs slower than the host (seen: 1.7 s for a run that takes
# 0.1 s on the host); with it, close to the host.
KVM = Accel('KVM', 'kvm', 120, 30, 1.0)
TCG = Accel('TCG', 'tcg,thread=multi', 300, 300, 2.0)
ACCELS = {accel.name: accel for accel in (KVM, TCG)}
READY_LINE = 'guest: ready'
# Where each line's program port and modem are, in the guest.
# `last` runs after the others, on its own.
LINES = {'acm0': ('/dev/ttyACM0', '/dev/ttyGS0'), 'acm1': ('/dev/ttyACM1', '/dev/ttyGS1'),
         'acm2': ('/dev/ttyACM2', '/dev/ttyGS2'), 'uart': ('/dev/ttyS1', '/dev/ttyS2'),
         'last': ('/dev/ttyACM0', '/dev/ttyGS0'), **gadgets.lines()}
SKIPPED_FILE = 'skipped.txt'
ACCEL_FILE = 'accel.txt'
CONSOLE_FILE = 'console.txt'


def port_of(scenario, line: str) -> str:
    if scenario.port == 'missing':
        return run_scenario.MISSING_PORT
    return os.devnull if scenario.port == 'null' else LINES[line][0]


def kind_of(scenario) -> str:
    return {'modem': 'modem', 'locked': 'locked', 'held': 'held'}.get(scenario.port, 'none')


def row_call(name: str, line: str, row, extra: dict) -> str:
    """The row's call in its line's script; its modem script and files go into `extra`."""
    scenario = row.scenario
    modem_args = list(scenario.modem_args)
    if scenario.script is not None:
        extra['rows/%s/script' % name] = scenario.script.encode('latin-1')
        modem_args = ['--script', '/rows/%s/script' % name] + modem_args
    for file_name in scenario.files:
        extra['rows/%s/%s' % (name, file_name)] = b''
    port = port_of(scenario, line)
    expected = 'any' if scenario.result is None else str(scenario.result & 0xff)
    words = ['row', name, LINES[line][1], port, kind_of(scenario), scenario.answer_to, scenario.traces_to,
             row.setup, str(row.repeat), expected, shlex.join(modem_args)]
    return shlex.join(words + [a.replace('{port}', port) for a in scenario.args])


def list_call(name: str, row, extra: dict) -> str:
    """A list row's call in the list phase's script; its modem scripts go into `extra`."""
    modems = []
    for number, (tty, script) in enumerate(row.modems, 1):
        extra['rows/%s/script%d' % (name, number)] = script.encode('latin-1')
        modems.append('%s=script%d' % (tty, number))
    return shlex.join(['list_row', name, row.locked] + modems + ['--'] + row.args)


def check_list(row, folder: str, accel: Accel) -> list:
    """A list row's failed expectations."""
    status = int(read(folder, 'status', b'-1'))
    printed = read(folder, 'out').decode('latin-1')
    traces = read(folder, 'err').decode('latin-1')
    lines = printed.splitlines()
    print('standard output:\n%s\ntraces:\n%s' % (printed, traces))
    failures = [] if status == row.result & 0xff else ['exit status %d, expected %d' % (status, row.result & 0xff)]
    failures += ['a line is not four fields: %r' % line for line in lines if len(line.split('\t')) != 4]
    for pattern, verdict in row.verdicts:
        found = [line for line in lines if re.match(pattern, line)]
        failures += ['no line matches %r' % pattern] if not found else []
        failures += ['%r: verdict %s, expected %s' % (line, line.split('\t')[1], verdict)
                     for line in found if line.split('\t')[1] != verdict]
    answered = [line for line in lines if line.split('\t')[1:2] == ['1']]
    failures += ['%r gave 1, and no row says it answers' % line for line in answered
                 if not any(re.match(p, line) for p, verdict in row.verdicts if verdict == '1')]
    failures += ['%r is listed' % line for line in lines for pattern in row.unlisted if re.match(pattern, line)]
    failures += ['the traces hold no %r' % pattern for pattern in row.traces if not re.search(pattern, traces)]
    # The console's transmit count, which its boot messages have moved.
    counts = read(folder, 'console_tx').split()
    if len(counts) != 2 or counts[0] == b'0' or counts[0] != counts[1]:
        failures.append('the console sent bytes during the run, or its count is not known: %r' % counts)
    elapsed = float(read(folder, 'end', b'0')) - float(read(folder, 'start', b'0'))
    # The guest without KVM starts programs slower than the host.
    limit = row.elapsed_max + (accel.start_slack - KVM.start_slack)
    print('elapsed %.2f s (limit %.2f s under %s)' % (elapsed, limit, accel.name))
    if row.elapsed_max and elapsed > limit:
        failures.append('took %.2f s, more than %.2f s' % (elapsed, limit))
    return failures


def unavailable(kernel_dir: str):
    """(kernel image, None), or (None, why the guest cannot boot here)."""
    if not shutil.which(QEMU):
        return None, '%s not found (package qemu-system-x86)' % QEMU
    if not os.path.isfile(BUSYBOX):
        return None, '%s not found (package busybox-static)' % BUSYBOX
    fetched = subprocess.run(['bash', KERNEL_SCRIPT, kernel_dir], capture_output=True, text=True)
    if fetched.returncode != 0:
        said = fetched.stderr.strip().splitlines() or ['guest-kernel.sh failed']
        return None, 'the kernel package cannot be had: ' + said[-1]
    return fetched.stdout.strip(), None


def qemu_command(kernel: str, initrd: str, work: str, accel: Accel) -> list:
    socket = os.path.join(work, 'uart.sock')
    # no_timer_check: an emulated guest on a busy machine fails the kernel's
    # early check of the timer interrupt and panics (seen under TCG, make
    # test running beside it: "IO-APIC + timer doesn't work!").
    return [QEMU, '-nodefaults', '-display', 'none', '-no-reboot', '-accel', accel.option, '-smp', '2', '-m', '512',
            '-kernel', kernel, '-initrd', initrd, '-append', 'console=ttyS0 quiet panic=-1 no_timer_check',
            '-serial', 'file:' + os.path.join(work, CONSOLE_FILE),
            # ttyS1 and ttyS2 wired to each other through one socket.
            '-chardev', 'socket,id=program,path=%s,server=on,wait=off' % socket,
            '-chardev', 'socket,id=modem,path=%s' % socket,
            '-serial', 'chardev:program', '-serial', 'chardev:modem']


def unpack_results(console: str, results: str) -> bool:
    found = re.search(r'guest results begin\r?\n(.*?)guest results end', console, re.S)
    if not found:
        return False
    packed = base64.b64decode(re.sub(r'\s', '', found.group(1)))
    with tarfile.open(fileobj=io.BytesIO(packed), mode='r:gz') as archive:
        archive.extractall(results)
    return True


def boot(options) -> int:
    shutil.rmtree(options.results, ignore_errors=True)
    os.makedirs(options.results)
    kernel, reason = unavailable(options.kernel_dir)
    if reason:
        with open(os.path.join(options.results, SKIPPED_FILE), 'w') as f:
            f.write(reason)
        return wine.skip(reason)
    extra, calls = {}, {line: '' for line in list(LINES) + ['list']}
    for name, line, row in guest_rows.rows():
        if not isinstance(row, str) and re.search(options.only, name):
            calls[line] += (list_call(name, row, extra) if line == 'list' else row_call(name, line, row, extra)) + '\n'
    for line, text in calls.items():
        extra['lines/%s.sh' % line] = text.encode()
    extra['gadgets.sh'] = gadgets.script().encode()
    extra['modules/dummy_hcd.args'] = b'num=%d' % len(gadgets.GADGETS)
    work = os.path.join(options.results, 'boot')
    os.makedirs(work)
    usb_function = os.path.join(work, 'usb_function')
    subprocess.run(['cc', '-static', '-pthread', '-O2', '-Wall', '-Wextra', '-Werror', '-o', usb_function,
                    os.path.join(HERE, 'usb_function.c')], check=True)
    initrd = os.path.join(work, 'initrd.cpio')
    with open(initrd, 'wb') as f:
        f.write(initramfs.build(os.path.dirname(os.path.dirname(kernel)), BUSYBOX,
                                {'bin/atcmd': options.exe, 'bin/modemsim': options.modemsim,
                                 'bin/usb_function': usb_function},
                                os.path.join(HERE, 'init.sh'), extra))
    for accel in ([KVM] if os.access('/dev/kvm', os.R_OK | os.W_OK) else []) + [TCG]:
        command = qemu_command(kernel, initrd, work, accel)
        print('command: %s' % shlex.join(command))
        ended, console = run_qemu(command, work, accel)
        if READY_LINE in console or accel is TCG:
            break
        print('under %s the guest did not reach its ready line (%s); booting again under TCG'
              % (accel.name, ended))
    with open(os.path.join(options.results, ACCEL_FILE), 'w') as f:
        f.write(accel.name)
    print('guest under %s %s' % (accel.name, ended))
    print(console[-3000:] if not unpack_results(console, options.results) else
          '\n'.join(l for l in console.splitlines() if l.startswith('guest: ')))
    return 0 if os.path.isdir(os.path.join(options.results, 'acm.worked_example')) else 1


def run_qemu(command: list, work: str, accel: Accel):
    """Boots the guest: (how it ended, its console). It is killed when it is
    not ready within the accelerator's bound, or still up at its watchdog."""
    console_path = os.path.join(work, CONSOLE_FILE)
    if os.path.exists(console_path):
        os.remove(console_path)
    start = time.monotonic()
    with open(os.path.join(work, 'qemu.err'), 'w+b') as err:
        qemu = subprocess.Popen(command, stdin=subprocess.DEVNULL, stderr=err)
        try:
            ended = wait_for_guest(qemu, work, start, accel)
        finally:
            if qemu.poll() is None:
                qemu.kill()
            qemu.wait()
        err.seek(0)
        said = err.read().decode('latin-1').strip()
    ended += ' after %.1f s' % (time.monotonic() - start)
    return ended + (', QEMU said: ' + said[-1000:] if said else ''), console_of(work)


def wait_for_guest(qemu, work: str, start: float, accel: Accel) -> str:
    """Waits for QEMU to end, watching its bounds: how the guest ended."""
    ready = False
    while qemu.poll() is None:
        elapsed = time.monotonic() - start
        ready = ready or READY_LINE in console_of(work)
        if not ready and elapsed > accel.ready_limit:
            return 'killed, not ready within %d s' % accel.ready_limit
        if elapsed > accel.boot_limit:
            return 'killed by the watchdog at %d s' % accel.boot_limit
        time.sleep(0.2)
    return 'powered off'


def console_of(work: str) -> str:
    return read(work, CONSOLE_FILE).decode('latin-1')


def read(folder: str, name: str, default=b'') -> bytes:
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        return default
    with open(path, 'rb') as f:
        return f.read()


def check_row(options) -> int:
    line, row = guest_rows.find(options.case)
    if isinstance(row, str):
        return wine.skip(row)
    skipped = read(options.results, SKIPPED_FILE).decode()
    if skipped:
        return wine.skip(skipped)
    folder = os.path.join(options.results, options.case)
    if not os.path.isdir(folder):
        print('FAILED: the guest reported nothing for this row; see the test guest.boot')
        return 1
    if isinstance(row, guest_rows.ListRow):
        failures = check_list(row, folder, ACCELS[read(options.results, ACCEL_FILE, TCG.name.encode()).decode()])
        for failure in failures:
            print('FAILED: ' + failure)
        print('FAILED' if failures else 'PASSED')
        return 1 if failures else 0
    err = read(folder, 'err')
    # Each run's start and end; the last one's is checked whole, the others' times too.
    times = [float(end) - float(start) for start, end in
             (pair.split() for pair in read(folder, 'times').decode().splitlines())] or [0.0]
    run = run_scenario.Run(int(read(folder, 'status', b'-1')), times[-1], None, err.decode('latin-1'), err,
                           read(folder, 'out'))
    scenario = dataclasses.replace(row.scenario, cpu_max=None)  # no CPU time is measured in the guest
    received = read(folder, 'rx') if kind_of(scenario) != 'none' else None
    port = port_of(scenario, line)
    accel = ACCELS[read(options.results, ACCEL_FILE, TCG.name.encode()).decode()]
    failures = run_scenario.check(scenario, run, received, False, port, accel.start_slack)
    for number, elapsed in enumerate(times[:-1], 1):
        earlier = run_scenario.Run(0, elapsed, None, '', b'', b'')
        failures += ['run %d: %s' % (number, failure)
                     for failure in run_scenario.check_costs(scenario, earlier, False, accel.start_slack)]
    logged = read(options.results, line + '.control').decode()
    if row.control is not None and not logged.startswith(row.control):
        failures.append('the function logged the control lines %r, expected first %r' % (logged, row.control))
    runs = int(read(folder, 'runs', b'0'))
    if runs != row.repeat and not failures:
        failures.append('%d of %d runs' % (runs, row.repeat))
    print('line: %s, run %d of %d (%s s), the guest under %s'
          % (port, runs, row.repeat, ', '.join('%.2f' % t for t in times), accel.name))
    run_scenario.report(scenario, run, received, None, failures,
                        ['atcmd'] + [a.replace('{port}', port) for a in scenario.args])
    if failures:
        print('modemsim stderr:\n' + read(folder, 'modem.err').decode('latin-1'))
    for failure in failures:
        print('FAILED: ' + failure)
    print('FAILED' if failures else 'PASSED')
    return 1 if failures else 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--list', action='store_true')
    parser.add_argument('--boot', action='store_true')
    parser.add_argument('--case')
    parser.add_argument('--exe')
    parser.add_argument('--modemsim')
    parser.add_argument('--kernel-dir')
    parser.add_argument('--results')
    parser.add_argument('--only', default='', help='with --boot: only the rows whose names this finds')
    options = parser.parse_args()
    if options.list:
        print('\n'.join(name for name, _, _ in guest_rows.rows()))
        return 0
    if options.boot:
        return boot(options)
    return check_row(options)


if __name__ == '__main__':
    sys.exit(main())
