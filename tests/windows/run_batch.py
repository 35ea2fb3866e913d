#!/usr/bin/env python3
"""Runs one of the ZIP's batch examples as users run it: the shipped .bat
beside atcmd.exe and atcmd-trace.exe, under Wine's cmd.exe, against modemsim
on the COM port the example names; checks its exit code, what it printed
and the file it wrote.

    run_batch.py --list --wine KIND
    run_batch.py --case NAME --wine KIND --wine-prefix DIR --bin DIR
                 --batches DIR --modemsim PATH --work-dir DIR

Exit status: 0 passed, 1 failed, 77 skipped (that Wine cannot run here).
"""

import contextlib
import dataclasses
import os
import shutil
import subprocess
import sys
import tempfile
from typing import Tuple

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
for folder in ('../e2e', '../runner'):
    sys.path.insert(0, os.path.join(HERE, folder))

import run_scenario  # noqa: E402
import runner  # noqa: E402
import wine  # noqa: E402
from scenarios import send  # noqa: E402

CSQ = b'\r\n+CSQ: 21,99\r\n\r\nOK\r\n'


@dataclasses.dataclass(frozen=True)
class Batch:
    name: str
    batch: str
    com: int                        # the COM port the example names (or finds)
    script: str                     # the modem's
    status: int                     # the batch file's exit code: its last
                                    # ERRORLEVEL, which echo and set keep
    printed: Tuple[str, ...]        # on its standard output
    log: Tuple[str, ...] = ()       # in atcmd-log.txt
    modem_args: Tuple[str, ...] = ()
    listed: bool = False            # the port is registered alone in SERIALCOMM,
                                    # so that /list finds it (wine.SerialComm)


BATCHES = [
    Batch('example_answered', 'example.bat', 3, 'expect AT+CSQ\n' + send(CSQ), 0,
          ('+CSQ: 21,99', 'the modem answered as expected')),
    Batch('example_error', 'example.bat', 3, 'expect AT+CSQ\n' + send(b'\r\nERROR\r\n'), 1,
          ('failure: no port',)),
    # The signal line comes back through `for /f` and findstr.
    Batch('answer_example_signal', 'answer-example.bat', 3, 'expect AT+CSQ\n' + send(CSQ), 1,
          ('signal: +CSQ: 21,99',)),
    Batch('answer_example_error', 'answer-example.bat', 3, 'expect AT+CSQ\n' + send(b'\r\nERROR\r\n'), 1,
          ('no answer as expected: exit code -1',)),
    Batch('trace_example', 'trace-example.bat', 5, 'expect ATI\n' + send(b'\r\nModem 1.0\r\n\r\nOK\r\n'), 1,
          (), ('AtCommand() return 1', 'exit code 1')),
    Batch('find_port', 'find-port.bat', 41, ('expect AT\n' + send(b'AT\r\r\nOK\r\n') + 'expect AT+CSQ\n' + send(CSQ)),
          1, ('AT port: \\\\.\\COM41', 'signal: +CSQ: 21,99'), listed=True),
    Batch('find_port_none_answers', 'find-port.bat', 41, 'expect AT\n', 1, ('no port answers AT',), listed=True),
]


def run_batch(case: Batch, options):
    """The case's failed expectations."""
    os.makedirs(options.work_dir, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix=case.name + '.', dir=options.work_dir)
    for name in ('atcmd.exe', 'atcmd-trace.exe'):
        shutil.copy(os.path.join(options.bin, name), workdir)
    shutil.copy(os.path.join(options.batches, case.batch), workdir)
    modem = run_scenario.Modem(options.modemsim, case, workdir)
    port = options.wine.com_port(case.com)
    listed = (wine.SerialComm(options.wine).registered_alone(r'\Device\AtcmdModem', 'COM%d' % case.com)
              if case.listed else contextlib.nullcontext())
    try:
        port.map_to(modem.slave)
        with listed:
            done = subprocess.run(options.wine.command('cmd.exe', ['/c', case.batch]),
                                  env=options.wine.environment(), cwd=workdir, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=run_scenario.RUN_LIMIT_SECONDS)
    finally:
        port.unmap()
        modem.stop()
    printed = done.stdout.decode('latin-1')
    log_path = os.path.join(workdir, 'atcmd-log.txt')
    log = open(log_path, encoding='latin-1').read() if os.path.exists(log_path) else ''
    failures = [] if done.returncode == case.status else ['exit code %d, expected %d' % (done.returncode, case.status)]
    failures += ['printed no %r' % text for text in case.printed if text not in printed]
    failures += ['atcmd-log.txt holds no %r' % text for text in case.log if text not in log]
    print('standard output:\n%s\natcmd-log.txt:\n%s' % (printed, log))
    if failures:
        print('standard error:\n%s\nmodemsim stderr:\n%s' % (done.stderr.decode('latin-1')[-4000:],
                                                           modem.diagnostics()))
    else:
        shutil.rmtree(workdir, ignore_errors=True)
    return failures


def arguments(parser) -> None:
    parser.add_argument('--bin', help='the Windows build whose programs the batch files run')
    parser.add_argument('--batches', help='the folder of the shipped batch files')
    parser.add_argument('--modemsim', help='the fake modem')
    parser.add_argument('--work-dir', default=os.path.join(tempfile.gettempdir(), 'atcmd-batch'))


def needed(options):
    return [options.bin, options.batches, options.modemsim]


if __name__ == '__main__':
    sys.exit(runner.main(__doc__, BATCHES, run_batch, arguments, needed, native=False))
