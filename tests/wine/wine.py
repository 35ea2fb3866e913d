#!/usr/bin/env python3
"""Running the Windows builds under Wine: which Wine, whether it can start a
program here, its prefix, COM ports, debug output. Shared by every runner
that starts atcmd.exe under Wine. Wine runs in the test chroot
(scripts/testroot), at the same paths as outside it.

    wine.py --wine wine32|wine64 --wine-prefix DIR
                                    creates the prefix and starts its server
                                    for the test run, or exits 77 when this
                                    Wine cannot run
    wine.py --wine ... --wine-prefix DIR --stop
                                    ends that server

Exit status 77 means skipped (CTest's SKIP_RETURN_CODE), with the reason on
a line of its own that starts with "SKIPPED: ".
"""

import argparse
import contextlib
import fcntl
import os
import re
import subprocess
import sys
import time

SKIP_RETURN_CODE = 77

# OutputDebugStringA as Wine logs it with WINEDEBUG=warn+debugstr. A text
# too long for Wine's debug buffer ends in "..." after the closing quote.
DEBUGSTR_LINE = re.compile(rb'^[0-9a-f]+:warn:debugstr:OutputDebugStringA "(.*)"(\.\.\.)?$')
READY_MARK = 'atcmd-e2e-ready'

SIMPLE_ESCAPES = {'n': '\n', 'r': '\r', 't': '\t', '\\': '\\', '"': '"', 'a': '\a', 'b': '\b',
                  'f': '\f', 'v': '\v', 'e': '\x1b'}


def unescape(text: str) -> str:
    """Undoes Wine's debugstr escaping: \\n \\r \\t \\\\ \\" and \\xNN or octal."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        i += 1
        if c != '\\' or i == len(text):
            out.append(c)
            continue
        c = text[i]
        i += 1
        if c in SIMPLE_ESCAPES:
            out.append(SIMPLE_ESCAPES[c])
        elif c == 'x':
            digits = re.match(r'[0-9a-fA-F]{1,2}', text[i:])
            if digits:
                out.append(chr(int(digits.group(0), 16)))
                i += len(digits.group(0))
            else:
                out.append('\\x')
        elif c in '01234567':
            digits = re.match(r'[0-7]{0,2}', text[i:]).group(0)
            out.append(chr(int(c + digits, 8) & 0xff))
            i += len(digits)
        else:
            out.append('\\' + c)
    return ''.join(out)


def trace_text(stderr: bytes) -> str:
    """The program's trace text, from Wine's debug channel on stderr (long
    texts cut); runs through atcmd-trace read it whole from stdout instead."""
    pieces = []
    for line in stderr.splitlines():
        match = DEBUGSTR_LINE.match(line)
        if match:
            pieces.append(unescape(match.group(1).decode('latin-1')))
    return ''.join(pieces)


# The source tree: the kernel probe, the test chroot.
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE_DIR, 'scripts', 'testroot'))
import testroot  # noqa: E402

# Wine runs in the test chroot (scripts/testroot), never from the host. Debian's
# `wine` picks the 32-bit loader whenever wine32 is installed, and some
# kernels run no 32-bit code at all, so each kind names its own loader and
# server instead of going through /usr/bin/wine, and the 32-bit one runs only
# where its `kernel_probe` finds that the kernel runs its code.
KINDS = {
    'wine32': {'loader': '/usr/lib/wine/wine', 'server': '/usr/lib/wine/wineserver',
               'arch': 'win32', 'package': 'wine32:i386',
               'kernel_probe': os.path.join(SOURCE_DIR, 'scripts', 'runs-i386.sh')},
    'wine64': {'loader': '/usr/lib/wine/wine64', 'server': '/usr/lib/wine/wineserver64',
               'arch': 'win64', 'package': 'wine64', 'kernel_probe': None},
}

# How long a server started for a run may take to listen.
SERVER_START_SECONDS = 60


# Beside atcmd.exe in each Windows build: shows a program's debug texts on its
# standard output and passes on its exit code.
TRACER = 'atcmd-trace.exe'


# atcmd-trace's last line on standard error.
TRACER_END = re.compile(rb'" ended with exit code -?\d+ after \d+ ms, CPU (\d+) ms')


def traced_cpu(stderr: bytes):
    """The program's CPU seconds as atcmd-trace reports them, or None. Wine
    starts the program outside the caller's process tree, so the caller's
    resource usage does not hold it."""
    match = TRACER_END.search(stderr)
    return int(match.group(1)) / 1000.0 if match else None


def windows_path(path: str) -> str:
    """A Unix path as a Windows program under Wine names it (Z: is /)."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


class WineError(RuntimeError):
    """Wine is installed but failed; the text carries Wine's own message."""


def skip(reason: str) -> int:
    """Says why a test cannot run here; returns the code CTest reads as skipped."""
    print('SKIPPED: ' + reason, flush=True)
    return SKIP_RETURN_CODE


class Wine:
    """One Wine (32-bit or 64-bit) with its own prefix."""

    def __init__(self, kind: str, prefix: str):
        self.kind = kind
        self.loader = KINDS[kind]['loader']
        self.server = KINDS[kind]['server']
        self.arch = KINDS[kind]['arch']
        self.package = KINDS[kind]['package']
        self.prefix = os.path.abspath(prefix)

    def environment(self) -> dict:
        env = dict(os.environ)
        env.update(WINEPREFIX=self.prefix, WINEARCH=self.arch, WINELOADER=self.loader,
                   WINESERVER=self.server, WINEDEBUG='warn+debugstr',
                   WINEDLLOVERRIDES='mscoree,mshtml=')
        env.pop('DISPLAY', None)
        return env

    def inside(self, argv) -> list:
        """argv, a command of this Wine's, as run in the test chroot."""
        return testroot.command(argv)

    def command(self, program: str, args) -> list:
        return self.inside([self.loader, program] + list(args))

    def traced_command(self, program: str, args, tracer: str = None) -> list:
        """`program` run through atcmd-trace.exe (by default the one beside
        it), as a Windows user watches its traces: every text whole and in
        order on standard output (Wine's debug channel cuts long ones at about
        290 characters), the exit code passed through."""
        tracer = tracer or os.path.join(os.path.dirname(os.path.abspath(program)), TRACER)
        if not os.path.isfile(tracer):
            raise WineError('%s is not built (the Windows builds make it beside atcmd.exe)' % tracer)
        return self.command(tracer, [windows_path(program)] + list(args))

    def unavailable(self):
        """Why this Wine cannot start a program on this machine, or None.
        Only a kernel that refuses its code counts; anything else is a fault.
        Makes the test chroot first if it is missing or stale."""
        probe_script = KINDS[self.kind]['kernel_probe']
        if probe_script:
            probe = subprocess.run(['bash', probe_script], capture_output=True, text=True, timeout=60)
            # 1: the kernel refused the probe's program.
            if probe.returncode == 1:
                return '%s cannot start here: %s' % (self.kind, probe.stdout.strip())
        try:
            root = testroot.build()
        except (RuntimeError, OSError) as error:
            raise WineError('the test chroot cannot be made: %s' % error)
        if not os.path.isfile(root + self.loader):
            raise WineError('%s is missing in the test chroot %s (Debian package %s, listed in %s)'
                            % (self.loader, root, self.package, testroot.PACKAGES))
        probe = subprocess.run(self.inside([self.loader, '--version']), capture_output=True, timeout=60)
        if probe.returncode != 0:
            raise WineError('%s --version exited with %d: %s' % (
                self.loader, probe.returncode, probe.stderr.decode('latin-1').strip()))
        return None

    def ensure_prefix(self) -> None:
        """Creates the prefix once; concurrent callers wait for the first."""
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        with open(self.prefix + '.lock', 'w') as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            mark = os.path.join(self.prefix, READY_MARK)
            if os.path.exists(mark):
                return
            env = self.environment()
            env['WINEDEBUG'] = '-all'
            for step in ([self.loader, 'wineboot', '-i'], [self.server, '-w']):
                done = subprocess.run(self.inside(step), env=env, capture_output=True, timeout=300)
                if done.returncode != 0:
                    said = (done.stdout + done.stderr).decode('latin-1').strip()
                    raise WineError('creating the prefix %s: %s exited with %d:\n%s' % (
                        self.prefix, ' '.join(step), done.returncode, said[-4000:]))
            with open(mark, 'w') as ready:
                ready.write('ok\n')

    def keep_server(self) -> None:
        """Starts this prefix's server, and the system processes Wine runs
        beside every program (services.exe, winedevice.exe, ...), for good.
        Otherwise the first program of a test starts them, they inherit its
        standard output and error, and the test waits for those pipes to
        close until they end: seconds after the last Wine program of the
        whole run. They also cost every cold start."""
        # What they write goes to a file: a pipe would stay open as long as
        # they run.
        log_path = self.prefix + '.server.log'
        with open(log_path, 'wb') as log:
            # In the foreground, as a child of this process: a server that
            # starts itself leads a session of its own, so the first modem
            # pty it opens becomes its controlling terminal, and each time
            # that modem hangs up the server gets SIGHUP and logs all its
            # objects (megabytes). Led by no session, it can own no terminal.
            server = subprocess.Popen(self.inside([self.server, '--foreground', '--persistent']),
                                      env=self.environment(), stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        # Started without a shell or fork between, so the process is the
        # server; it listens in its working folder once it is ready.
        socket = '/proc/%d/cwd/socket' % server.pid
        deadline = time.monotonic() + SERVER_START_SECONDS
        while not os.path.exists(socket):
            status = server.poll()
            if status == 2:  # one already runs for this prefix, as good
                break
            if status is not None:
                self.log_failure(log_path, 'the server exited with %d' % status)
            if time.monotonic() > deadline:
                self.log_failure(log_path, 'the server did not listen within %d s' % SERVER_START_SECONDS)
            time.sleep(0.1)
        with open(log_path, 'ab') as log:
            done = subprocess.run(self.command('cmd.exe', ['/c', 'exit', '0']), env=self.environment(),
                                  timeout=120, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        if done.returncode != 0:
            self.log_failure(log_path, 'cmd.exe /c exit 0 exited with %d' % done.returncode)

    @staticmethod
    def log_failure(log_path: str, what: str) -> None:
        """Raises WineError with `what` and the end of the server's log."""
        with open(log_path, 'rb') as log:
            said = log.read().decode('latin-1').strip()
        raise WineError('%s: %s' % (what, said[-4000:]))

    def stop_server(self) -> None:
        """Ends this prefix's server and every Wine process of the prefix."""
        env = self.environment()
        for step in ([self.server, '-k'], [self.server, '-w']):
            subprocess.run(self.inside(step), env=env, timeout=60, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start(self, make_prefix: bool = True) -> int:
        """The common start of a test under this Wine: 0 when the prefix is
        ready (without `make_prefix`: when this Wine can run here); otherwise
        says why and returns the skip code (this Wine cannot run here) or 1
        (Wine failed)."""
        try:
            reason = self.unavailable()
            if reason:
                return skip(reason)
            if make_prefix:
                self.ensure_prefix()
        except WineError as error:
            print('FAILED: %s' % error, flush=True)
            return 1
        return 0

    def com_port(self, number: int) -> 'ComPort':
        return ComPort(self.prefix, number)


class ComPort:
    """\\\\.\\COMnn mapped to a pty through the prefix's dosdevices; the
    \\\\.\\ form is needed above COM9."""

    def __init__(self, prefix: str, number: int):
        self.link = os.path.join(prefix, 'dosdevices', 'com%d' % number)
        self.name = '\\\\.\\COM%d' % number

    def map_to(self, device: str) -> None:
        self.unmap()
        os.symlink(device, self.link)

    def unmap(self) -> None:
        if os.path.lexists(self.link):
            os.unlink(self.link)


class SerialComm:
    """The prefix's HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM: device name -> COM
    name, as Windows' serial drivers register their ports. Wine's mountmgr
    fills it when the server starts, with the host serial ports it found
    (COM1 -> /dev/ttyS0); a comN link made later is not registered, and no
    COM port has a SetupAPI device node. A row that needs its own port listed
    registers it, with the host's set aside while the row runs: a probe must
    never send a byte to a host device (the host's ttyS0 may be its console)."""

    KEY = r'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
    VALUE = re.compile(r'^\s+(\S.*?)\s+REG_SZ\s+(.*?)\s*$')

    def __init__(self, w: 'Wine'):
        self.wine = w

    def reg(self, args) -> str:
        done = subprocess.run(self.wine.command('reg.exe', args), env=self.wine.environment(),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        if done.returncode != 0 and args[0] != 'query':
            raise WineError('reg %s exited with %d: %s' % (' '.join(args), done.returncode,
                                                            done.stderr.decode('latin-1')[-2000:]))
        return done.stdout.decode('latin-1')

    def values(self) -> list:
        """(device, COM name) pairs, as reg.exe lists them."""
        return [match.groups() for match in map(self.VALUE.match, self.reg(['query', self.KEY]).splitlines())
                if match]

    def registered_alone(self, device: str, com_name: str) -> 'contextlib.AbstractContextManager':
        """While the returned context lasts, `device` -> `com_name` is the
        only entry; then the list is as it was."""
        @contextlib.contextmanager
        def alone():
            before = self.values()
            for name, _ in before:
                self.reg(['delete', self.KEY, '/v', name, '/f'])
            try:
                self.reg(['add', self.KEY, '/v', device, '/t', 'REG_SZ', '/d', com_name, '/f'])
                yield
            finally:
                self.reg(['delete', self.KEY, '/v', device, '/f'])
                for name, com in before:
                    self.reg(['add', self.KEY, '/v', name, '/t', 'REG_SZ', '/d', com, '/f'])
        return alone()


def main() -> int:
    parser = argparse.ArgumentParser(description='Readies a Wine prefix and its server for a '
                                     'test run, or ends the server after it.')
    parser.add_argument('--wine', choices=sorted(KINDS), required=True)
    parser.add_argument('--wine-prefix', required=True)
    parser.add_argument('--stop', action='store_true', help='end the server the run kept')
    options = parser.parse_args()
    wine = Wine(options.wine, options.wine_prefix)
    # Ending the server needs no prefix: none is made just to be stopped.
    status = wine.start(make_prefix=not options.stop)
    if status:
        return status
    try:
        if options.stop:
            wine.stop_server()
            print('server stopped: ' + wine.prefix)
        else:
            wine.keep_server()
            print('prefix and server ready: ' + wine.prefix)
    except WineError as error:
        print('FAILED: %s' % error, flush=True)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
