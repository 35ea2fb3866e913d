#!/usr/bin/env python3
"""`atcmd.exe /list` under Wine: what the Windows build lists from SetupAPI
and SERIALCOMM for the prefix's COM ports, and every listed port tried at
once against modemsim.

Wine gives its COM ports no SetupAPI device node (the Ports and Modem
classes list nothing) and registers in SERIALCOMM only the host serial ports
its mountmgr found when the server started; so the rows check the SERIALCOMM
path, and a row that tries a port registers its own (wine.SerialComm).

    run_list.py --list --wine KIND
    run_list.py --case NAME --wine KIND --wine-prefix DIR --program atcmd.exe
                --modemsim PATH --work-dir DIR

Exit status: 0 passed, 1 failed, 77 skipped (that Wine cannot run here).
"""

import dataclasses
import os
import re
import shutil
import subprocess
import sys
import tempfile
from typing import Optional, Tuple

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
for folder in ('../e2e', '../runner'):
    sys.path.insert(0, os.path.join(HERE, folder))

import run_scenario  # noqa: E402
import runner  # noqa: E402
import wine  # noqa: E402
from scenarios import send  # noqa: E402

PROBE = ('/list', '/cmd', 'AT', '/resp', 'OK', '/timeout', '1000')
COM = 41
DEVICE = r'\Device\AtcmdModem'


@dataclasses.dataclass(frozen=True)
class ListCase:
    name: str
    args: Tuple[str, ...]
    script: Optional[str]  # modemsim's on the registered port; None: the prefix's own list
    verdict: str = '-'     # the registered port's second field
    status: int = 1
    modem_args: Tuple[str, ...] = ()


CASES = [
    ListCase('prefix_serialcomm_listed', ('/list',), None),
    ListCase('registered_port_answers', PROBE, 'expect AT\n' + send(b'AT\r\r\nOK\r\n'), '1'),
    ListCase('registered_port_silent', PROBE, 'expect AT\n', '-2', -1),
    ListCase('registered_port_errs', PROBE, 'expect AT\n' + send(b'\r\nERROR\r\n'), '-1', -1),
    # Option names ignore case; without /cmd nothing is sent.
    ListCase('registered_port_not_tried', ('/LIST',), 'expect AT\n' + send(b'\r\nOK\r\n')),
]


def natural_key(name: str):
    return [int(part) if part.isdigit() else part for part in re.split(r'(\d+)', name)]


def as_port_argument(com: str) -> str:
    return com if len(com) == 4 else '\\\\.\\' + com


def expected_lines(values) -> str:
    """The lines /list gives for SERIALCOMM's entries, SetupAPI having none."""
    lines = sorted(((as_port_argument(com), device) for device, com in values if re.match(r'COM\d+$', com)),
                   key=lambda line: natural_key(line[0]))
    return ''.join('%s\t-\t%s\tSERIALCOMM\n' % line for line in lines)


def run(options, args):
    done = subprocess.run(options.wine.command(options.program, list(args)), env=options.wine.environment(),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=run_scenario.RUN_LIMIT_SECONDS)
    return done.returncode, done.stdout.decode('latin-1'), wine.trace_text(done.stderr)


def run_list(case: ListCase, options):
    """The case's failed expectations."""
    serialcomm = wine.SerialComm(options.wine)
    if case.script is None:
        expected = expected_lines(serialcomm.values())
        status = 1 if expected else -1
        code, printed, traces = run(options, case.args)
    else:
        os.makedirs(options.work_dir, exist_ok=True)
        workdir = tempfile.mkdtemp(prefix=case.name + '.', dir=options.work_dir)
        modem = run_scenario.Modem(options.modemsim, case, workdir)
        port = options.wine.com_port(COM)
        try:
            port.map_to(modem.slave)
            with serialcomm.registered_alone(DEVICE, 'COM%d' % COM):
                code, printed, traces = run(options, case.args)
        finally:
            port.unmap()
            modem.stop()
        expected = '%s\t%s\t%s\tSERIALCOMM\n' % (port.name, case.verdict, DEVICE)
        status = case.status
        received = modem.received()
        if case.verdict == '-' and received:
            return ['a port not tried was sent %r' % received]
        shutil.rmtree(workdir, ignore_errors=True)
    print('standard output:\n%s\ntraces:\n%s' % (printed, traces))
    failures = [] if code & 0xff == status & 0xff else ['exit code %d, expected %d' % (code, status)]
    if printed != expected:
        failures.append('listed %r, expected %r' % (printed, expected))
    if case.verdict != '-' and '%s: SerialAtCommand() return %s\n' % (as_port_argument('COM%d' % COM),
                                                                      case.verdict) not in traces:
        failures.append("the traces do not name the port with its verdict")
    return failures


def arguments(parser) -> None:
    parser.add_argument('--program', help='atcmd.exe')
    parser.add_argument('--modemsim', help='the fake modem')
    parser.add_argument('--work-dir', default=os.path.join(tempfile.gettempdir(), 'atcmd-list'))


def needed(options):
    return [options.program, options.modemsim]


if __name__ == '__main__':
    sys.exit(runner.main(__doc__, CASES, run_list, arguments, needed, native=False))
