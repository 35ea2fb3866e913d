"""Running the Windows build under Wine: prefix, COM ports, debug output."""

import fcntl
import os
import re
import subprocess

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
    """The program's trace text, from Wine's debug output on stderr."""
    pieces = []
    for line in stderr.splitlines():
        match = DEBUGSTR_LINE.match(line)
        if match:
            pieces.append(unescape(match.group(1).decode('latin-1')))
    return ''.join(pieces)


def environment(prefix: str) -> dict:
    env = dict(os.environ)
    env['WINEPREFIX'] = prefix
    env['WINEDEBUG'] = 'warn+debugstr'
    env['WINEDLLOVERRIDES'] = 'mscoree,mshtml='
    env.pop('DISPLAY', None)
    return env


def ensure_prefix(prefix: str) -> None:
    """Creates the prefix once; concurrent callers wait for the first."""
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    with open(prefix + '.lock', 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        mark = os.path.join(prefix, READY_MARK)
        if os.path.exists(mark):
            return
        env = environment(prefix)
        env['WINEDEBUG'] = '-all'
        subprocess.run(['wineboot', '-i'], env=env, check=True, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(['wineserver', '-w'], env=env, check=True, timeout=300)
        with open(mark, 'w') as ready:
            ready.write('ok\n')


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
