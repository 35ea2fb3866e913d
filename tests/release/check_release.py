#!/usr/bin/env python3
"""Checks what users get: the release tree installed into a temporary DESTDIR,
the Debian package (source and binary, made by dpkg-buildpackage), the
Windows ZIP, and the manual pages.

  check_release.py install     RELEASE_DIR
  check_release.py package     RELEASE_DIR PACKAGE_DIR
  check_release.py deb         PACKAGE_DIR
  check_release.py lintian     PACKAGE_DIR
  check_release.py autopkgtest PACKAGE_DIR
  check_release.py zip         RELEASE_DIR WIN_FOLDER=EXE ...
  check_release.py man         PAGE
  check_release.py rebuild     RELEASE_DIR PACKAGE_DIR WIN_BUILD=TREE OTHER_WIN_BUILD=TREE

`package` builds the Debian packages of the release tree's sources into
PACKAGE_DIR, which the next three check; `autopkgtest` runs the package's
own test in a throwaway test chroot. The installed program and the packaged
one each run one transaction against the installed fake modem. `rebuild`
builds the release programs, the first Windows build's programs and both
packages again, from a copy of the sources at another path, and compares
them with the first ones (the ZIP takes the other Windows build's programs
from its first tree). Exit status: 0 passed, 1 failed.
"""

import filecmp
import os
import select
import shutil
import subprocess
import sys
import tempfile
import zipfile

VERSION = '1.1.1.10'
DEBIAN_VERSION = VERSION + '-1'
HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
TESTROOT = os.path.join(SOURCE, 'scripts', 'testroot', 'testroot.py')
# What the Debian build is told: the tests ran in the release tree's layers.
NOCHECK = {'DEB_BUILD_OPTIONS': 'nocheck'}
INSTALLED = ['bin/atcmd', 'bin/modemsim', 'share/doc/atcmd/README.md',
             'share/doc/atcmd/changelog.gz', 'share/doc/atcmd/copyright',
             'share/man/man1/atcmd.1.gz', 'share/man/man1/modemsim.1.gz']
SANITIZER_MARKS = [b'libasan', b'libubsan', b'AddressSanitizer', b'UndefinedBehaviorSanitizer']
# The release program needs the C library only (and its loader).
ALLOWED_NEEDED = {'libc.so.6', 'ld-linux-x86-64.so.2'}


class Failures(list):
    def check(self, condition: bool, message: str) -> None:
        if not condition:
            self.append(message)


def run(command, timeout=120, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run(command, capture_output=True, timeout=timeout, **kwargs)


def files_under(root: str) -> list:
    found = []
    for folder, _, names in os.walk(root):
        found += [os.path.relpath(os.path.join(folder, name), root) for name in names]
    return sorted(found)


def transaction_status(bin_dir: str, failures: Failures) -> None:
    """One AT transaction of bin_dir's atcmd against bin_dir's modemsim."""
    modem = subprocess.Popen([os.path.join(bin_dir, 'modemsim'), '--idle-exit', '30'],
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    try:
        ready, _, _ = select.select([modem.stdout], [], [], 10)
        tty = modem.stdout.readline().decode().strip() if ready else ''
        if not tty:
            failures.append('%s/modemsim printed no pty path' % bin_dir)
            return
        result = run([os.path.join(bin_dir, 'atcmd'), '/port', tty, '/cmd', 'AT', '/resp', 'OK',
                      '/timeout', '3000'])
        failures.check(result.returncode == 1 and b'AtCommand() return 1\n' in result.stderr,
                       '%s/atcmd against the fake modem: exit %d, traces:\n%s'
                       % (bin_dir, result.returncode, result.stderr.decode('latin-1')))
    finally:
        modem.terminate()
        modem.wait(10)
        modem.stdout.close()


def check_release_program(path: str, failures: Failures) -> None:
    """Not a sanitizer build, and no shared library beyond the C library."""
    with open(path, 'rb') as f:
        image = f.read()
    for mark in SANITIZER_MARKS:
        failures.check(mark not in image, '%s holds %s: a sanitizer build' % (path, mark.decode()))
    dynamic = run(['readelf', '--dynamic', path], check=True).stdout.decode()
    needed = {line.split('[')[1].rstrip(']') for line in dynamic.splitlines() if '(NEEDED)' in line}
    failures.check(needed <= ALLOWED_NEEDED, '%s needs %s' % (path, sorted(needed - ALLOWED_NEEDED)))


def check_install(release_dir: str, failures: Failures) -> None:
    # The default prefix, then another one: both only below DESTDIR.
    for prefix, folder in [(None, 'usr/local'), ('/opt/atcmd', 'opt/atcmd')]:
        with tempfile.TemporaryDirectory(prefix='atcmd-install-') as destdir:
            command = ['cmake', '--install', release_dir] + (['--prefix', prefix] if prefix else [])
            result = run(command, env=dict(os.environ, DESTDIR=destdir))
            if result.returncode != 0:
                failures.append('%s failed:\n%s' % (' '.join(command), result.stderr.decode()))
                continue
            found = files_under(destdir)
            expected = sorted(os.path.join(folder, name) for name in INSTALLED)
            failures.check(found == expected, 'installed %s, expected %s' % (found, expected))
            if found == expected:
                bin_dir = os.path.join(destdir, folder, 'bin')
                check_release_program(os.path.join(bin_dir, 'atcmd'), failures)
                transaction_status(bin_dir, failures)


def deb_path(package_dir: str) -> str:
    return os.path.abspath(os.path.join(package_dir, 'atcmd_%s_amd64.deb' % DEBIAN_VERSION))


def zip_path(out_dir: str) -> str:
    return os.path.join(out_dir, 'atcmd-%s-windows.zip' % VERSION)


def existing(path: str, failures: Failures) -> str:
    """path, or '' (and a failure) when it is not there."""
    if os.path.exists(path):
        return path
    failures.append('no %s; made: %s' % (path, sorted(os.listdir(os.path.dirname(path)))
                                         if os.path.isdir(os.path.dirname(path)) else 'nothing'))
    return ''


def build_debian(source: str, package_dir: str, failures: Failures) -> None:
    """The source and binary packages of source, made in package_dir."""
    shutil.rmtree(package_dir, ignore_errors=True)
    command = ['bash', os.path.join(source, 'scripts', 'debian-package.sh'), package_dir, '--source']
    result = run(command, timeout=1200, env=dict(os.environ, JOBS='2', **NOCHECK))
    failures.check(result.returncode == 0, '%s failed:\n%s%s' % (
        ' '.join(command), result.stdout.decode()[-3000:], result.stderr.decode()[-3000:]))


def made_zip(release_dir: str, out_dir: str, failures: Failures) -> str:
    """The ZIP cpack made in out_dir, or '' (and a failure) when none."""
    command = ['cpack', '--config', os.path.join(release_dir, 'CPackConfig.cmake'), '-B', out_dir]
    result = run(command)
    failures.check(result.returncode == 0, '%s failed:\n%s%s' % (
        ' '.join(command), result.stdout.decode(), result.stderr.decode()))
    return existing(zip_path(out_dir), failures) if not failures else ''


def check_deb(package_dir: str, failures: Failures) -> None:
    deb = existing(deb_path(package_dir), failures)
    if not deb:
        return
    with tempfile.TemporaryDirectory(prefix='atcmd-deb-') as out_dir:
        listing = run(['dpkg-deb', '-c', deb], check=True).stdout.decode()
        packaged = sorted(line.split()[-1].lstrip('./') for line in listing.splitlines()
                          if not line.startswith('d'))
        # What `make install` installs, the Debian changelog, lintian's note.
        expected = sorted(['usr/' + name for name in INSTALLED] + [
            'usr/share/doc/atcmd/changelog.Debian.gz', 'usr/share/lintian/overrides/atcmd'])
        failures.check(packaged == expected, 'the package holds %s, expected %s' % (packaged, expected))
        fields = {
            'Package': lambda v: v == 'atcmd',
            'Version': lambda v: v == DEBIAN_VERSION,
            'Architecture': lambda v: v == 'amd64',
            'Section': lambda v: v == 'comm',
            'Maintainer': lambda v: '@' in v,
            'Description': lambda v: 'AT command' in v,
            # Computed from the binaries: the C library, nothing else.
            'Depends': lambda v: v.startswith('libc6 (>=') and ',' not in v,
        }
        for field, good in fields.items():
            value = run(['dpkg-deb', '-f', deb, field], check=True).stdout.decode().strip()
            failures.check(good(value), 'field %s is %r' % (field, value))
        simulated = run(['apt-get', 'install', '--simulate', deb])
        failures.check(simulated.returncode == 0, 'apt-get install --simulate %s:\n%s' % (
            deb, simulated.stdout.decode() + simulated.stderr.decode()))
        root = os.path.join(out_dir, 'root')
        run(['dpkg-deb', '-x', deb, root], check=True)
        bin_dir = os.path.join(root, 'usr', 'bin')
        check_release_program(os.path.join(bin_dir, 'atcmd'), failures)
        transaction_status(bin_dir, failures)
        # The licence texts the ZIP ships, word for word.
        with open(os.path.join(root, 'usr', 'share', 'doc', 'atcmd', 'copyright')) as f:
            copyright = f.read()
        for licence in ('LICENSE', 'doc/boost-license.txt'):
            failures.check(copyright_body(os.path.join(SOURCE, licence)) in copyright,
                           'the copyright file does not hold %s as it is' % licence)


def copyright_body(path: str) -> str:
    """A licence text as the body of a copyright file's field: each line
    indented by one space, an empty line as " ."."""
    with open(path) as f:
        return '\n'.join(' ' + (line or '.') for line in f.read().rstrip('\n').split('\n'))


def check_zip(release_dir: str, programs: list, failures: Failures) -> None:
    top = 'atcmd-%s-windows/' % VERSION
    with tempfile.TemporaryDirectory(prefix='atcmd-zip-') as out_dir:
        path = made_zip(release_dir, out_dir, failures)
        if not path:
            return
        with zipfile.ZipFile(path) as archive:
            names = sorted(n for n in archive.namelist() if not n.endswith('/'))
            expected = [top + name for name in ('README.txt', 'LICENSE.txt', 'LICENSE-Boost.txt')]
            for folder, exe in (p.split('=', 1) for p in programs):
                shipped = {'atcmd.exe': exe,
                           'atcmd-trace.exe': os.path.join(os.path.dirname(exe), 'atcmd-trace.exe')}
                expected += [top + folder + '/' + name for name in shipped]
                expected += [top + folder + '/' + name for name in ('example.bat', 'answer-example.bat', 'trace-example.bat',
                                                                    'find-port.bat')]
                for name, built in shipped.items():
                    if top + folder + '/' + name in names:
                        with open(built, 'rb') as f:
                            failures.check(archive.read(top + folder + '/' + name) == f.read(),
                                           '%s/%s is not %s' % (folder, name, built))
            failures.check(names == sorted(expected), 'the ZIP holds %s, expected %s' % (names, sorted(expected)))
            texts = {name: archive.read(name) for name in names if not name.endswith('.exe')}
    for name, text in texts.items():
        bare = text.replace(b'\r\n', b'')
        failures.check(b'\n' not in bare and b'\r' not in bare, '%s has line ends other than CRLF' % name)
        if name.endswith('/example.bat'):
            # Every result gets its own exact test; "IF ERRORLEVEL n" means n or more.
            for code in (b'1', b'-1', b'-2'):
                failures.check(b' EQU ' + code + b' ' in text, '%s does not test for %s' % (name, code.decode()))
        if name.endswith('/answer-example.bat'):
            failures.check(b'atcmd.exe" ' in text and b' > answer.txt' in text,
                           '%s does not redirect the answer of atcmd.exe to a file' % name)
        if name.endswith('/find-port.bat'):
            failures.check(b'atcmd.exe" /list /cmd AT ' in text and b'delims=\t"' in text,
                           '%s does not find the port through /list, its fields split at tabs' % name)
        if name.endswith('/trace-example.bat'):
            failures.check(b'atcmd-trace.exe" /t "%~dp0atcmd.exe"' in text,
                           '%s does not run atcmd.exe beside it through atcmd-trace.exe' % name)
        if name.endswith('.bat'):
            failures.check(b'if errorlevel' not in text.lower(), '%s uses IF ERRORLEVEL' % name)
        elif name.endswith('README.txt'):
            failures.check(b'start /wait' in text, '%s does not say start /wait' % name)
        else:
            failures.check(b'copyright' in text.lower(), '%s says nothing of copyright' % name)


def check_man(page: str, failures: Failures) -> None:
    lint = run(['mandoc', '-Tlint', '-Wstyle', page])
    failures.check(lint.returncode == 0 and not lint.stdout and not lint.stderr,
                   'mandoc -Tlint:\n' + (lint.stdout + lint.stderr).decode())
    rendered = run(['man', '--warnings', '-l', page], env=dict(os.environ, MANWIDTH='80', MANPAGER='cat'))
    failures.check(rendered.returncode == 0 and not rendered.stderr and b'EXIT STATUS' in rendered.stdout,
                   'man --warnings:\n' + rendered.stderr.decode())


def check_lintian(package_dir: str, failures: Failures) -> None:
    """The source and the binary package, through the .changes."""
    changes = existing(os.path.join(package_dir, 'atcmd_%s_amd64.changes' % DEBIAN_VERSION), failures)
    if not changes:
        return
    result = run(['lintian', '--no-cfg', '--fail-on', 'error,warning', changes], timeout=300)
    tags = [line for line in result.stdout.decode().splitlines() if line[:2] in ('E:', 'W:')]
    failures.check(result.returncode == 0 and not tags, 'lintian (exit %d):\n%s' % (
        result.returncode, (result.stdout + result.stderr).decode()))


def check_autopkgtest(package_dir: str, failures: Failures) -> None:
    """The package's own test, against the package installed in a throwaway
    copy of the test chroot; never on this machine."""
    deb = existing(deb_path(package_dir), failures)
    tree = existing(os.path.join(package_dir, 'atcmd-' + VERSION), failures)
    if not (deb and tree):
        return
    # A trailing slash: the unbuilt source tree, whose debian/tests it runs.
    result = run([sys.executable, TESTROOT, 'run', '--throwaway', '--',
                  'autopkgtest', deb, tree + '/', '--', 'null'], timeout=1200)
    failures.check(result.returncode == 0, 'autopkgtest (exit %d):\n%s' % (
        result.returncode, (result.stdout + result.stderr).decode()[-5000:]))


def cache_value(tree: str, name: str) -> str:
    with open(os.path.join(tree, 'CMakeCache.txt')) as cache:
        for line in cache:
            if line.startswith(name + ':'):
                return line.split('=', 1)[1].rstrip('\n')
    return ''


def check_rebuild(release_dir: str, package_dir: str, windows: list, failures: Failures) -> None:
    """The second trees build from a copy of the sources with the first trees'
    time stamp; everything they ship must be the same bytes."""
    (win_build, win_dir), (other_build, other_dir) = (w.split('=', 1) for w in windows)
    source = cache_value(release_dir, 'CMAKE_HOME_DIRECTORY')
    with open(os.path.join(release_dir, 'source-date-epoch')) as f:
        env = dict(os.environ, SOURCE_DATE_EPOCH=f.read().strip())
    with tempfile.TemporaryDirectory(prefix='atcmd-rebuild-elsewhere-') as work:
        copy = os.path.join(work, 'src')
        shutil.copytree(source, copy, ignore=shutil.ignore_patterns('build', '.git'))
        steps = [['cmake', '--preset', win_build],
                 ['cmake', '--build', '--preset', win_build, '-j2', '--target', 'atcmd', 'atcmd-trace'],
                 ['cmake', '--preset', 'release', '-DATCMD_%s_DIR=%s' % (other_build, other_dir)],
                 ['cmake', '--build', '--preset', 'release', '-j2', '--target', 'atcmd', 'modemsim']]
        for step in steps:
            result = run(step, timeout=900, cwd=copy, env=env)
            if result.returncode != 0:
                failures.append('%s failed:\n%s%s' % (' '.join(step), result.stdout.decode()[-3000:],
                                                       result.stderr.decode()))
                return
        second_release = os.path.join(copy, 'build', 'release')
        second_win = os.path.join(copy, 'build', win_build)
        pairs = [(os.path.join(release_dir, 'bin', name), os.path.join(second_release, 'bin', name))
                 for name in ('atcmd', 'modemsim')]
        pairs += [(os.path.join(win_dir, 'bin', name), os.path.join(second_win, 'bin', name))
                  for name in ('atcmd.exe', 'atcmd-trace.exe')]
        second_packages = os.path.join(work, 'packages')
        build_debian(copy, second_packages, failures)
        pairs.append((existing(deb_path(package_dir), failures), existing(deb_path(second_packages), failures)))
        pairs.append((made_zip(release_dir, os.path.join(work, 'first'), failures),
                      made_zip(second_release, os.path.join(work, 'second'), failures)))
        for first, second in pairs:
            failures.check(first and second and filecmp.cmp(first, second, shallow=False),
                           '%s and %s differ' % (first, second))


def main() -> int:
    if len(sys.argv) < 3:
        print(__doc__)
        return 1
    what, target, extra = sys.argv[1], sys.argv[2], sys.argv[3:]
    failures = Failures()
    checks = {
        'install': lambda: check_install(target, failures),
        'package': lambda: build_debian(cache_value(target, 'CMAKE_HOME_DIRECTORY'), extra[0], failures),
        'deb': lambda: check_deb(target, failures),
        'lintian': lambda: check_lintian(target, failures),
        'autopkgtest': lambda: check_autopkgtest(target, failures),
        'zip': lambda: check_zip(target, extra, failures),
        'man': lambda: check_man(target, failures),
        'rebuild': lambda: check_rebuild(target, extra[0], extra[1:], failures),
    }
    if not os.path.exists(target):
        failures.append('%s does not exist: `make test` builds the release tree and the package first' % target)
    else:
        checks[what]()
    for failure in failures:
        print('FAIL:', failure)
    print('%s %s: %s' % (what, target, 'failed' if failures else 'passed'))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
