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

import guest_rows  # noqa: E402
import initramfs  # noqa: E402
import run_scenario  # noqa: E402
import wine  # noqa: E402

KERNEL_SCRIPT = os.path.join(HERE, '..', '..', 'scripts', 'guest-kernel.sh')
BUSYBOX = '/bin/busybox'
QEMU = 'qemu-system-x86_64'
# The watchdog: a guest that has not powered off by then is killed.
BOOT_LIMIT_SECONDS = 300
# A guest without KVM, on a busy machine, starts programs slower than the
# host: the upper time bounds get this much more (seen: 1.7 s for a run
# that takes 0.1 s on the host).
GUEST_START_SECONDS = 2.0
# Where each line's program port and modem are, in the guest.
# `last` runs after the others, on its own.
LINES = {'acm0': ('/dev/ttyACM0', '/dev/ttyGS0'), 'acm1': ('/dev/ttyACM1', '/dev/ttyGS1'),
         'acm2': ('/dev/ttyACM2', '/dev/ttyGS2'), 'uart': ('/dev/ttyS1', '/dev/ttyS2'),
         'last': ('/dev/ttyACM0', '/dev/ttyGS0')}
SKIPPED_FILE = 'skipped.txt'


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


def qemu_command(kernel: str, initrd: str, work: str) -> list:
    accel = 'kvm' if os.access('/dev/kvm', os.R_OK | os.W_OK) else 'tcg,thread=multi'
    socket = os.path.join(work, 'uart.sock')
    return [QEMU, '-nodefaults', '-display', 'none', '-no-reboot', '-accel', accel, '-smp', '2', '-m', '512',
            '-kernel', kernel, '-initrd', initrd, '-append', 'console=ttyS0 quiet panic=-1',
            '-serial', 'file:' + os.path.join(work, 'console.txt'),
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
    extra, calls = {}, {line: '' for line in LINES}
    for name, line, row in guest_rows.rows():
        if not isinstance(row, str) and re.search(options.only, name):
            calls[line] += row_call(name, line, row, extra) + '\n'
    for line, text in calls.items():
        extra['lines/%s.sh' % line] = text.encode()
    work = os.path.join(options.results, 'boot')
    os.makedirs(work)
    initrd = os.path.join(work, 'initrd.cpio')
    with open(initrd, 'wb') as f:
        f.write(initramfs.build(os.path.dirname(os.path.dirname(kernel)), BUSYBOX,
                                {'bin/atcmd': options.exe, 'bin/modemsim': options.modemsim},
                                os.path.join(HERE, 'init.sh'), extra))
    start = time.monotonic()
    command = qemu_command(kernel, initrd, work)
    try:
        subprocess.run(command, stdin=subprocess.DEVNULL, timeout=BOOT_LIMIT_SECONDS)
        ended = 'powered off'
    except subprocess.TimeoutExpired:
        ended = 'killed by the watchdog after %d s' % BOOT_LIMIT_SECONDS
    with open(os.path.join(work, 'console.txt'), encoding='latin-1') as f:
        console = f.read()
    print('command: %s' % shlex.join(command))
    print('guest %s, %.1f s' % (ended, time.monotonic() - start))
    print(console[-3000:] if not unpack_results(console, options.results) else
          '\n'.join(l for l in console.splitlines() if l.startswith('guest: ')))
    return 0 if os.path.isdir(os.path.join(options.results, 'acm.worked_example')) else 1


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
    err = read(folder, 'err')
    elapsed = float(read(folder, 'end', b'0')) - float(read(folder, 'start', b'0'))
    run = run_scenario.Run(int(read(folder, 'status', b'-1')), elapsed, None, err.decode('latin-1'), err,
                           read(folder, 'out'))
    scenario = dataclasses.replace(row.scenario, cpu_max=None)  # no CPU time is measured in the guest
    received = read(folder, 'rx') if kind_of(scenario) != 'none' else None
    port = port_of(scenario, line)
    failures = run_scenario.check(scenario, run, received, False, port, GUEST_START_SECONDS)
    runs = int(read(folder, 'runs', b'0'))
    if runs != row.repeat and not failures:
        failures.append('%d of %d runs' % (runs, row.repeat))
    print('line: %s, run %d of %d' % (port, runs, row.repeat))
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
