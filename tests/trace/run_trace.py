#!/usr/bin/env python3
"""Runs one case of atcmd-trace.exe under Wine, with trace-debuggee.exe (a
program that writes given debug texts, its arguments, and exits with a given
code or crashes) as the program it follows, and checks the exit code,
standard output (the texts, exactly) and standard error. Special cases run
atcmd.exe: its texts also reach Wine's debug channel when run directly, and
a stalled or closed output of atcmd-trace never holds a run against a
flooding modem past its time limit.

    run_trace.py --list --wine wine64
    run_trace.py --wine wine64 --wine-prefix DIR --bin DIR --case NAME
                 [--modemsim PATH --work-dir DIR]

Exit status: 0 passed, 1 failed, 77 skipped (that Wine cannot run here).
"""

import dataclasses
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from typing import Callable, List, Optional

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'runner'))
sys.path.insert(0, os.path.join(HERE, '..', 'e2e'))
import runner  # noqa: E402
import wine  # noqa: E402
import run_scenario  # noqa: E402
import scenarios  # noqa: E402

DEBUGGEE = 'trace-debuggee.exe'
# atcmd-trace's exit code when no program ran to its end (9009), as a Unix
# exit status sees it.
NOT_RUN = 9009 & 0xff
ACCESS_VIOLATION = 0xC0000005


def long_text(length: int) -> str:
    """What the debuggee's long:N writes."""
    alphabet = '0123456789abcdefghijklmnopqrstuvwxyz'
    return ''.join(alphabet[i % 36] for i in range(length - 1)) + '\n' if length else ''


def arg_lines(args: List[str]) -> str:
    return ''.join('arg[%d]=%s\n' % (i, a) for i, a in enumerate(args, 1))


@dataclasses.dataclass
class Case:
    name: str
    args: List[str]               # atcmd-trace's arguments
    status: int                   # exit status as Unix sees it (low byte)
    stdout: Optional[str] = None  # exactly, when given
    stderr: List[str] = dataclasses.field(default_factory=list)  # fragments
    check: Optional[Callable[[str], List[str]]] = None  # more checks of stdout
    # Standard output a Wine gives instead of the Windows one, accepted as
    # well (a later Wine may have mended it).
    stdout_also: Optional[str] = None
    wine: Optional[runner.WineDifference] = None


@dataclasses.dataclass
class Special:
    """A case that runs atcmd.exe: `run(wine, bin_dir, options)` gives its
    failures."""
    name: str
    run: Callable[..., List[str]]
    wine: Optional[runner.WineDifference] = None


def stamped_in_order(stdout: str) -> List[str]:
    """With /t every text starts with its milliseconds, never decreasing."""
    lines = stdout.splitlines(keepends=True)
    stamps = [re.match(r'^\[ *(\d+) ms\] text (\d+)\n$', line) for line in lines]
    if len(lines) != 3 or not all(stamps):
        return ['texts not stamped as "[    N ms] text": %r' % stdout]
    times = [int(m.group(1)) for m in stamps]
    texts = [int(m.group(2)) for m in stamps]
    return [] if times == sorted(times) and texts == [1, 2, 3] else ['stamps or order wrong: %r' % stdout]


# Arguments that quoting gets wrong: blanks, quotes, backslashes before a
# quote or at the end, an empty one, a wildcard.
HARD_ARGUMENTS = ['with space', 'tab\there', 'q"uote', '"', '""', 'trailing\\', 'two\\\\', 'back\\"quote',
                  'back\\\\"quote', 'C:\\Program Files\\x y\\', '', '  ', '*.exe', '/t', 'a\\b c']

LONG_LENGTHS = [511, 512, 600, 4097, 70000]


def own_output_passed_through(stdout: str) -> List[str]:
    """The program's own standard output reaches atcmd-trace's unchanged,
    between whole texts; which comes first is not fixed."""
    if stdout in ('before\nanswer\r\nafter\n', 'answer\r\nbefore\nafter\n'):
        return []
    return ['the program\'s "answer\\r\\n" and its texts not each whole: %r' % stdout]

CASES = [
    Case('exit_code_1', [DEBUGGEE, 'text:one', 'exit:1'], 1, 'one\n'),
    Case('exit_code_minus_1', [DEBUGGEE, 'exit:-1'], 0xff, ''),
    Case('exit_code_minus_2', [DEBUGGEE, 'exit:-2'], 0xfe, '',
         ['atcmd-trace: "trace-debuggee.exe" ended with exit code -2 after ']),
    Case('texts_whole_and_in_order',
         [DEBUGGEE, 'count:300'] + ['long:%d' % n for n in LONG_LENGTHS] + ['wide:wide text', 'text:last'], 0,
         ''.join('text %d\n' % n for n in range(1, 301)) + ''.join(long_text(n) for n in LONG_LENGTHS)
         + 'wide text\nlast\n'),
    Case('arguments_pass_unchanged', [DEBUGGEE, 'args'] + HARD_ARGUMENTS, 0, arg_lines(['args'] + HARD_ARGUMENTS)),
    Case('timestamps', ['/t', DEBUGGEE, 'count:3'], 0, check=stamped_in_order),
    Case('program_output_passed_through', [DEBUGGEE, 'text:before', 'out:answer', 'text:after', 'exit:1'], 1,
         check=own_output_passed_through),
    Case('exception_the_program_handles', [DEBUGGEE, 'raise', 'exit:1'], 1, 'exception handled by the program\n'),
    # The unwinding after a first chance that atcmd-trace passes on restores
    # the catching frame's registers.
    Case('exception_the_program_catches', [DEBUGGEE, 'text:before', 'catch', 'text:after', 'exit:1'], 1,
         'before\nC++ exception caught, registers kept\nafter\n',
         wine=runner.WineDifference('Wine 8 hands rbp back as 0 after a C++ catch in an x64 program under a '
                                    'debugger (without one it keeps it, as Windows does)', '_wine64_may_lose_rbp',
                                    dict(stdout_also='before\nC++ exception caught, registers lost: rbp\nafter\n'),
                                    kinds=('wine64',))),
    Case('crash', [DEBUGGEE, 'text:before', 'crash', 'text:after'], ACCESS_VIOLATION & 0xff, 'before\n',
         ['the program ended by exception 0xC0000005 at 0x']),
    Case('missing_program', ['no-such-program.exe', 'a'], NOT_RUN, '',
         ['atcmd-trace: cannot start "no-such-program.exe": error 2: ']),
    Case('no_program', ['/t'], NOT_RUN, '', ['usage: atcmd-trace [/t] <program> [arguments...]']),
]


def texts_also_on_debug_channel(w, bin_dir: str) -> List[str]:
    """atcmd.exe run directly: its texts reach Wine's debug channel
    (WINEDEBUG=warn+debugstr) as they reach atcmd-trace, the same and in
    the same order, except that the channel cuts a long one."""
    command = 'AT+' + 'LONG' * 100
    args = ['/port', '\\\\.\\COM255', '/cmd', command, '/timeout', '100']
    env = w.environment()
    direct = subprocess.run(w.command(os.path.join(bin_dir, 'atcmd.exe'), args), env=env, cwd=bin_dir,
                            capture_output=True, timeout=60)
    channel = wine.trace_text(direct.stderr)
    env['WINEDEBUG'] = '-all'
    status, traced, _ = run(w, bin_dir, ['atcmd.exe'] + args, env)
    print('debug channel:\n' + show(channel) + '\natcmd-trace:\n' + show(traced))
    long_line = 'SerialAtCommand(), portname(%s), cmd(%s\r\n), resp(), timeout(100)\n' % (args[1], command)
    failures = []
    if direct.returncode != 0xff or status != 0xff:
        failures.append('exit status %d directly, %d through atcmd-trace; expected 255'
                        % (direct.returncode, status))
    if long_line not in traced:
        failures.append('atcmd-trace did not show the long text whole')
    before, _, after = traced.partition(long_line)
    if not (channel.startswith(before + long_line[:200]) and channel.endswith(after) and after):
        failures.append('the debug channel does not hold the same texts')
    return failures


# A modem that answers any command with +CREG lines, as fast as it can.
FLOOD_SCRIPT = 'expect *\nflood 1000000000 \\r\\n+CREG: 2,1,"1234","001122BB"\\r\\n\n'
FLOOD_ARGS = ['/cmd', 'AT+CREG?', '/resp', '^NEVER$', '/timeout', '2000']
# The time limit, the output's 250 ms for a write after the end, and slack for a shared
# machine (seen here: the program ends after 2.02 to 2.08 s, atcmd-trace 0.25
# s later).
FLOOD_SECONDS = 3.0


def flood_into(w, bin_dir: str, options, port_number: int, stalled: bool) -> List[str]:
    """atcmd.exe against a flooding modem with /timeout 2000, through
    atcmd-trace into a pipe that nobody reads (`stalled`) or that its reader
    has closed: the verdict is still -2, within 2.5 s (Wine's start-up aside),
    and the last line counts the texts the output did not take."""
    workdir = tempfile.mkdtemp(prefix='flood.', dir=options.work_dir)
    modem = run_scenario.Modem(options.modemsim, scenarios.Scenario('flood', [], None, script=FLOOD_SCRIPT),
                               workdir)
    port = w.com_port(port_number)
    reader, writer = os.pipe()
    unclosed = [reader, writer]
    try:
        port.map_to(modem.slave)
        if not stalled:
            os.close(unclosed.pop(0))
        env = w.environment()
        env['WINEDEBUG'] = '-all'
        command = w.command(os.path.join(bin_dir, wine.TRACER), ['atcmd.exe', '/port', port.name] + FLOOD_ARGS)
        with open(os.path.join(workdir, 'stderr.txt'), 'w+b') as errors:
            start = time.monotonic()
            process = subprocess.Popen(command, env=env, cwd=bin_dir, stdin=subprocess.DEVNULL, stdout=writer,
                                       stderr=errors)
            os.close(unclosed.pop())
            try:
                status = process.wait(run_scenario.RUN_LIMIT_SECONDS)
            except subprocess.TimeoutExpired:
                process.kill()
                status = process.wait()
            elapsed = time.monotonic() - start
            errors.seek(0)
            stderr = errors.read().decode('latin-1')
        taken = os.read(reader, 4096).decode('latin-1') if stalled else ''
    finally:
        for fd in unclosed:
            os.close(fd)
        port.unmap()
        modem.stop()
    print('exit status %d after %.2f s\nstandard error:\n%s' % (status, elapsed, show(stderr)))
    failures = []
    if status != 0xfe:
        failures.append('exit status %d, expected 254 (-2)' % status)
    limit = FLOOD_SECONDS + run_scenario.WINE_START_SECONDS
    if elapsed > limit:
        failures.append('took %.2f s, expected at most %.1f s' % (elapsed, limit))
    end = re.search(r'ended with exit code -2 after (\d+) ms, CPU \d+ ms; [1-9]\d* texts dropped', stderr)
    if not end:
        failures.append('the last line does not give -2 and count the texts dropped')
    elif int(end.group(1)) > FLOOD_SECONDS * 1000:
        failures.append('the program ran %s ms, expected at most %d' % (end.group(1), FLOOD_SECONDS * 1000))
    if stalled and not taken.startswith('set MBIM request: 0\n'):
        failures.append('the first texts are not on standard output: %r' % taken[:200])
    if not failures:
        shutil.rmtree(workdir, ignore_errors=True)
    return failures


CASES += [
    Special('atcmd_texts_also_on_debug_channel', lambda w, bin_dir, options: texts_also_on_debug_channel(w, bin_dir)),
    # COM ports of their own in the shared prefix.
    Special('flood_into_stalled_output', lambda w, bin_dir, options: flood_into(w, bin_dir, options, 240, True)),
    Special('flood_into_closed_output', lambda w, bin_dir, options: flood_into(w, bin_dir, options, 241, False)),
]


def run(w, bin_dir: str, args: List[str], env: dict):
    trace = os.path.join(bin_dir, wine.TRACER)
    done = subprocess.run(w.command(trace, args), env=env, cwd=bin_dir, capture_output=True, timeout=60)
    return done.returncode, done.stdout.decode('latin-1'), done.stderr.decode('latin-1')


def check_case(case: Case, status: int, stdout: str, stderr: str) -> List[str]:
    failures = []
    if status != case.status:
        failures.append('exit status %d, expected %d' % (status, case.status))
    if case.stdout_also is not None and stdout == case.stdout_also:
        print('the known Wine difference')
    elif case.stdout is not None and stdout != case.stdout:
        failures.append('standard output differs from the expected %d characters' % len(case.stdout))
    failures += [f'standard error lacks "{text}"' for text in case.stderr if text not in stderr]
    if case.check:
        failures += case.check(stdout)
    return failures


def show(text: str, limit: int = 3000) -> str:
    return text if len(text) <= limit else text[:limit] + '... (%d characters)' % len(text)


def run_case(case, options) -> List[str]:
    """The case's failed expectations."""
    w, bin_dir = options.wine, os.path.abspath(options.bin)
    if isinstance(case, Special):
        os.makedirs(options.work_dir, exist_ok=True)
        return case.run(w, bin_dir, options)
    env = w.environment()
    env['WINEDEBUG'] = '-all'
    status, stdout, stderr = run(w, bin_dir, case.args, env)
    failures = check_case(case, status, stdout, stderr)
    print('atcmd-trace %s\nexit status %d' % (' '.join(case.args), status))
    print('standard output:\n' + show(stdout))
    print('standard error:\n' + show(stderr))
    return failures


def arguments(parser) -> None:
    parser.add_argument('--bin', help='the folder holding atcmd-trace.exe and trace-debuggee.exe')
    parser.add_argument('--modemsim', help='the fake modem, for the cases that flood')
    parser.add_argument('--work-dir', default=os.path.join(tempfile.gettempdir(), 'atcmd-trace-tests'))


def needed(options) -> List[str]:
    if options.bin is None:
        return [None]
    return [os.path.join(options.bin, program) for program in (wine.TRACER, 'atcmd.exe', DEBUGGEE)]


if __name__ == '__main__':
    sys.exit(runner.main(__doc__, CASES, run_case, arguments, needed, native=False))
