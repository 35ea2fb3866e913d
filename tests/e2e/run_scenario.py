#!/usr/bin/env python3
"""Runs one end-to-end scenario: atcmd (native, or the Windows build under
Wine) against modemsim on a pseudo-terminal, then checks the exit code, the
bytes the modem received, the trace text, and the time and CPU it took.

    run_scenario.py --list [--wine KIND]
    run_scenario.py --case NAME --exe PROGRAM --modemsim PATH [--work-dir DIR]
                    [--wine KIND --wine-prefix DIR]

Exit status: 0 passed, 1 failed, 77 skipped (that Wine cannot run here).
"""

import fcntl
import os
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, '..', 'runner'))

import runner  # noqa: E402
import scenarios  # noqa: E402
import wine  # noqa: E402

MISSING_PORT = '/dev/atcmd-e2e-no-such-port'
# Starting a Wine process costs time and CPU the native program does not
# spend; the upper bounds get this much more under Wine.
WINE_START_SECONDS = 2.0
WINE_START_CPU_SECONDS = 1.0
RUN_LIMIT_SECONDS = 30
TRACE_LINES_SHOWN = 200


ESCAPES = {'\r': '\\r', '\n': '\\n', '\t': '\\t', '\\': '\\\\'}


def escape(text: str) -> str:
    """Trace text made visible: line ends and control bytes escaped."""
    return ''.join(ESCAPES.get(c) or (c if ' ' <= c < '\x7f' else '\\x%02X' % (ord(c) & 0xff)) for c in text)


class Modem:
    """modemsim serving one scenario, with its received bytes in a log."""

    def __init__(self, modemsim: str, scenario, workdir: str):
        self.log = os.path.join(workdir, 'modem-received.bin')
        self.stderr_path = os.path.join(workdir, 'modem-stderr.txt')
        args = [modemsim, '--idle-exit', str(RUN_LIMIT_SECONDS * 2), '--log', self.log]
        if scenario.script is not None:
            script = os.path.join(workdir, 'modem-script.txt')
            with open(script, 'w', encoding='latin-1') as f:
                f.write(scenario.script)
            args += ['--script', script]
        args += scenario.modem_args
        with open(self.stderr_path, 'wb') as stderr:
            self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                            stderr=stderr)
        ready, _, _ = select.select([self.process.stdout], [], [], 10)
        self.slave = self.process.stdout.readline().decode().strip() if ready else ''
        if not self.slave:
            self.stop()
            raise RuntimeError('modemsim printed no pty path: ' + self.diagnostics())

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()

    def received(self) -> bytes:
        with open(self.log, 'rb') as f:
            return f.read()

    def diagnostics(self) -> str:
        with open(self.stderr_path, 'rb') as f:
            return f.read().decode('latin-1')


class Run:
    """What one run of the program gave."""

    def __init__(self, status: int, elapsed: float, cpu: float, trace: str, raw_stderr: bytes, out: bytes):
        self.status = status
        self.out = out
        self.elapsed = elapsed
        self.cpu = cpu
        self.trace = trace
        self.raw_stderr = raw_stderr


class Stream:
    """Where one output of the program goes: a file read back afterwards,
    a pipe nobody reads (held open until the program has ended), or a pipe
    whose reader is gone."""

    def __init__(self, kind: str, path: str):
        self.kind, self.path, self.reader = kind, path, None
        if kind == 'file':
            self.target = open(path, 'wb')
            return
        self.reader, self.target = os.pipe()
        if kind == 'closed':
            os.close(self.reader)
            self.reader = None

    def collect(self) -> bytes:
        """Closes the stream; what a file received."""
        if self.kind == 'file':
            self.target.close()
            with open(self.path, 'rb') as f:
                return f.read()
        os.close(self.target)
        if self.reader is not None:
            os.close(self.reader)
        return b''


def run_program(command, env, workdir, trace_of, stdout_kind='file', stderr_kind='file') -> Run:
    """`trace_of(stdout, stderr)` gives the trace text from the raw output."""
    stdout = Stream(stdout_kind, os.path.join(workdir, 'program-stdout.txt'))
    stderr = Stream(stderr_kind, os.path.join(workdir, 'program-stderr.txt'))
    start = time.monotonic()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=stdout.target,
                               stderr=stderr.target, env=env, cwd=workdir)
    killer = threading.Timer(RUN_LIMIT_SECONDS, process.kill)
    killer.start()
    _, wait_status, usage = os.wait4(process.pid, 0)
    elapsed = time.monotonic() - start
    killer.cancel()
    process.returncode = os.waitstatus_to_exitcode(wait_status)
    out, raw = stdout.collect(), stderr.collect()
    return Run(process.returncode, elapsed, usage.ru_utime + usage.ru_stime, trace_of(out, raw), raw, out)


def fragment_text(fragment, under_wine: bool, port: str) -> str:
    if isinstance(fragment, runner.Differs):
        fragment = fragment.under(under_wine)
    return fragment.replace('{port}', port)


def check(scenario, run: Run, received, under_wine: bool, port: str, slack: float):
    """Returns the list of failed expectations."""
    failures = []
    if run.status < 0:
        failures.append('killed by signal %d' % -run.status)
    elif scenario.result is not None and run.status != scenario.result & 0xff:
        failures.append('exit code %d, expected %d (AtResult %d)' % (run.status, scenario.result & 0xff,
                                                                      scenario.result))
    if scenario.answer is not None and run.out != scenario.answer:
        failures.append('standard output %r, expected %r' % (run.out, scenario.answer))
    if scenario.received is not None and received != scenario.received:
        failures.append('modem received %r, expected %r' % (received, scenario.received))
    position = 0
    for fragment in scenario.traces:
        text = fragment_text(fragment, under_wine, port)
        found = run.trace.find(text, position)
        if found < 0:
            failures.append('trace "%s" missing (after offset %d)' % (escape(text), position))
        else:
            position = found + len(text)
    for fragment in scenario.absent + ([] if under_wine else ['Sanitizer', 'runtime error:']):
        text = fragment.replace('{port}', port)
        if text in run.trace:
            failures.append('trace "%s" present' % escape(text))
    failures += check_costs(scenario, run, under_wine, slack)
    return failures


def check_modem(modem):
    if modem and 'Sanitizer' in modem.diagnostics():
        return ['modemsim reported a sanitizer error']
    return []


def check_costs(scenario, run: Run, under_wine: bool, slack: float):
    failures = []
    if scenario.elapsed is not None:
        low, high = scenario.elapsed
        high += (WINE_START_SECONDS if under_wine else 0.0) + slack
        if not low <= run.elapsed <= high:
            failures.append('took %.2f s, expected %.1f to %.1f s' % (run.elapsed, low, high))
    if scenario.cpu_max is not None:
        limit = scenario.cpu_max + (WINE_START_CPU_SECONDS if under_wine else 0.0) + slack
        if run.cpu is None:
            failures.append('no CPU time: atcmd-trace did not report it')
        elif run.cpu > limit:
            failures.append('used %.2f s of CPU, expected at most %.2f s' % (run.cpu, limit))
    return failures


class Port:
    """The port name the program gets, and what stands behind it."""

    def __init__(self, scenario, index: int, modem, options):
        self.com = options.wine.com_port(10 + index) if options.wine else None
        self.holder = None
        self.other = None  # another program that has the port open
        if scenario.port == 'null':  # a device that is no serial port
            if self.com:
                self.com.map_to(os.devnull)
            self.name = self.com.name if self.com else os.devnull
            return
        if scenario.port == 'missing' or modem is None:
            self.name = self.com.name if self.com else MISSING_PORT
            if self.com:
                self.com.unmap()
            return
        if self.com:
            self.com.map_to(modem.slave)
        self.name = self.com.name if self.com else modem.slave
        if scenario.port == 'locked':
            self.holder = os.open(modem.slave, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            fcntl.flock(self.holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
        if scenario.port == 'held':
            tty = os.open(modem.slave, os.O_RDONLY | os.O_NOCTTY)
            self.other = subprocess.Popen(['sleep', '60'], stdin=tty)
            os.close(tty)

    def release(self) -> None:
        if self.holder is not None:
            os.close(self.holder)
        if self.other is not None:
            self.other.kill()
            self.other.wait()
        if self.com:
            self.com.unmap()


def report(scenario, run: Run, received, modem, failures, command) -> None:
    print('scenario: %s' % scenario.name)
    print('command:  %s' % ' '.join(command))
    cpu = 'unknown' if run.cpu is None else '%.2f s' % run.cpu
    print('exit:     %d, %.2f s, CPU %s' % (run.status, run.elapsed, cpu))
    print('modem received: %r' % (received,))
    print('standard output: %r' % (run.out[:2000],))
    print('trace:')
    lines = run.trace.splitlines(keepends=True)
    if len(lines) > 2 * TRACE_LINES_SHOWN:  # a flood: its ends tell enough
        skipped = len(lines) - 2 * TRACE_LINES_SHOWN
        lines = lines[:TRACE_LINES_SHOWN] + ['[%d lines]\n' % skipped] + lines[-TRACE_LINES_SHOWN:]
    for line in lines:
        print('  ' + escape(line))
    if failures:
        print('program stderr (raw):')
        print(run.raw_stderr.decode('latin-1')[-6000:])
        if modem:
            print('modemsim stderr:\n' + modem.diagnostics())


def answer_checked(scenario) -> bool:
    """Whether the row looks at the program's standard output."""
    return scenario.answer is not None or scenario.answer_to != 'file'


def run_scenario(scenario, options):
    """The scenario's failed expectations."""
    for option in ('exe', 'modemsim', 'work_dir'):
        setattr(options, option, os.path.abspath(getattr(options, option)))
    index = [s.name for s in scenarios.SCENARIOS].index(scenario.name)
    os.makedirs(options.work_dir, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix=scenario.name + '.', dir=options.work_dir)
    for name in scenario.files:
        open(os.path.join(workdir, name), 'w').close()
    modem = Modem(options.modemsim, scenario, workdir) if scenario.port not in ('missing', 'null') else None
    port = None
    try:
        port = Port(scenario, index, modem, options)
        args = [a.replace('{port}', port.name) for a in scenario.args]
        # Through atcmd-trace the program's standard output shares its
        # stream with the traces: rows that look at it run directly.
        via_tracer = scenario.traced and not answer_checked(scenario)
        if options.wine and via_tracer:
            # As a Windows user watches them: through atcmd-trace, on its stdout.
            command = options.wine.traced_command(options.exe, args)
            env, trace_of = options.wine.environment(), lambda out, err: out.decode('latin-1')
            streams = dict(stdout_kind=scenario.traces_to)
        elif options.wine:
            # From Wine's debug channel, with no debugger attached.
            command = options.wine.command(options.exe, args)
            env, trace_of = options.wine.environment(), lambda out, err: wine.trace_text(err)
            streams = dict(stdout_kind=scenario.answer_to)
        else:
            command = [options.exe] + args
            env, trace_of = dict(os.environ), lambda out, err: err.decode('latin-1')
            streams = dict(stdout_kind=scenario.answer_to, stderr_kind=scenario.traces_to)
        run = run_program(command, env, workdir, trace_of, **streams)
        if options.wine:
            run.cpu = wine.traced_cpu(run.raw_stderr) if via_tracer else None
    finally:
        if port:
            port.release()
        if modem:
            modem.stop()
    received = modem.received() if modem else None
    failures = check(scenario, run, received, bool(options.wine), port.name, options.slack) + check_modem(modem)
    report(scenario, run, received, modem, failures, command)
    if not failures and not options.keep:
        shutil.rmtree(workdir, ignore_errors=True)
    return failures


def arguments(parser) -> None:
    parser.add_argument('--exe', help='the program: atcmd, or atcmd.exe with --wine')
    parser.add_argument('--modemsim', help='the fake modem')
    parser.add_argument('--work-dir', default=os.path.join(tempfile.gettempdir(), 'atcmd-e2e'))
    parser.add_argument('--keep', action='store_true', help='keep the work files of a passed run')
    parser.add_argument('--slack', type=float, default=0.0,
                        help='seconds more for every time and CPU bound: a program built with a slow '
                             'sanitizer; its timing is checked by the other builds')


def needed(options):
    return [options.exe, options.modemsim]


if __name__ == '__main__':
    sys.exit(runner.main(__doc__, scenarios.SCENARIOS, run_scenario, arguments, needed))
