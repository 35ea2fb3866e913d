#!/usr/bin/env python3
"""The test chroot: a Debian system under build/testroot/ with what the
tests run inside it (Wine for both Windows builds), made from the archive's
base suite and its -updates only, so that every version in it is consistent
whatever the host's own package state. Built once and reused; rebuilt when
its package list (the file `packages` beside this one) changes.

    testroot.py build
        makes or reuses the chroot; prints its path
    testroot.py run [--throwaway] -- COMMAND [ARG...]
        runs COMMAND as root in the chroot (built first if missing or stale),
        in the current folder, with /proc, /dev (the host's ptys included),
        and the host's /tmp and the source tree at their own paths (the
        runners' files are where they were); with --throwaway under a writable
        layer that is thrown away after. Exit status: COMMAND's.

Every mount is made in a private mount namespace of the command's own, so it
ends with the namespace's last process, whichever way that ends: nothing is
left mounted on the host.
"""

import argparse
import fcntl
import functools
import hashlib
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
PACKAGES = os.path.join(HERE, 'packages')
TOP = os.path.join(SOURCE_DIR, 'build', 'testroot')
ROOT = os.path.join(TOP, 'root')
STAMP = os.path.join(TOP, 'stamp')

# Debian 13: its Wine runs the ZIP's batch files (Debian 12's has a stub
# findstr). Its base suite and -updates only: the security suite's i386 and
# amd64 indexes are not always in step, and a mix cannot be installed.
RELEASE = 'trixie'
MIRROR = 'http://deb.debian.org/debian'
KEYRING = '/usr/share/keyrings/debian-archive-keyring.gpg'
# Changed with the way the chroot is made below, so that it is made again.
RECIPE = '1'

# Run in the new mount namespace: mounts what the command needs, enters the
# chroot.
ENTER = os.path.join(HERE, 'enter.sh')


def say(text: str) -> None:
    print('testroot: ' + text, file=sys.stderr, flush=True)


def kernel_runs_i386() -> bool:
    """False where the kernel refuses i386 programs (scripts/runs-i386.sh)."""
    probe = subprocess.run(['bash', os.path.join(SOURCE_DIR, 'scripts', 'runs-i386.sh')],
                           stdout=subprocess.DEVNULL, timeout=60)
    return probe.returncode != 1


@functools.lru_cache(maxsize=None)
def package_list() -> tuple:
    """The packages of the list, less the i386 ones on a kernel that runs no
    i386 code: their maintainer scripts and triggers could not run, and
    nothing would use them."""
    with open(PACKAGES, encoding='utf-8') as f:
        listed = [line.split('#')[0].strip() for line in f if line.split('#')[0].strip()]
    if any(p.endswith(':i386') for p in listed) and not kernel_runs_i386():
        return tuple(p for p in listed if not p.endswith(':i386'))
    return tuple(listed)


def wanted_stamp() -> str:
    """What the chroot is made from; a different one means it is stale."""
    recipe = '\n'.join((RECIPE, RELEASE, MIRROR) + package_list())
    return hashlib.sha256(recipe.encode()).hexdigest() + '\n'


def current() -> bool:
    try:
        with open(STAMP, encoding='utf-8') as f:
            return f.read() == wanted_stamp()
    except FileNotFoundError:
        return False


def command(argv, root: str = ROOT, throwaway: bool = False) -> list:
    """The command line that runs argv in the chroot (which must be built),
    in the folder it is started in, which the chroot must have: the source
    tree, /tmp or a folder of the chroot's own."""
    layer = ''
    if throwaway:
        layer = os.path.join(TOP, 'throwaway')
        os.makedirs(layer, exist_ok=True)
    return ['unshare', '--mount', '--propagation', 'private', '--', 'sh', ENTER, root, SOURCE_DIR, layer] + list(argv)


def in_new_root(root: str, argv) -> None:
    """One step of making the chroot; its output goes to ours."""
    done = subprocess.run(command(argv, root), cwd='/', stdin=subprocess.DEVNULL,
                          env=dict(os.environ, LC_ALL='C.UTF-8', DEBIAN_FRONTEND='noninteractive'))
    if done.returncode != 0:
        raise RuntimeError('%s exited with %d in the new chroot' % (' '.join(argv), done.returncode))


def make(root: str) -> None:
    """Makes the chroot at root from nothing."""
    shutil.rmtree(root, ignore_errors=True)
    step = subprocess.run(['debootstrap', '--variant=minbase', '--arch=amd64', '--keyring=' + KEYRING,
                           RELEASE, root, MIRROR], stdin=subprocess.DEVNULL)
    if step.returncode != 0:
        raise RuntimeError('debootstrap exited with %d (its log: %s/debootstrap/debootstrap.log)'
                           % (step.returncode, root))
    os.remove(os.path.join(root, 'etc', 'apt', 'sources.list'))
    with open(os.path.join(root, 'etc', 'apt', 'sources.list.d', 'debian.sources'), 'w') as f:
        f.write('Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\n'
                'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' % (MIRROR, RELEASE, RELEASE))
    if any(p.endswith(':i386') for p in package_list()):
        in_new_root(root, ['dpkg', '--add-architecture', 'i386'])
    in_new_root(root, ['apt-get', '-q', 'update'])
    in_new_root(root, ['apt-get', '-q', 'install', '-y', '--no-install-recommends', *package_list()])
    in_new_root(root, ['apt-get', 'clean'])


def build() -> str:
    """The chroot, made unless it is current; concurrent callers wait for the
    first."""
    os.makedirs(TOP, exist_ok=True)
    with open(os.path.join(TOP, 'lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if current():
            return ROOT
        if os.geteuid() != 0:
            raise RuntimeError('making the test chroot needs root (debootstrap, mounts)')
        say('making the test chroot (Debian %s, its Wine) in %s; this takes some minutes' % (RELEASE, ROOT))
        start = time.monotonic()
        fresh = ROOT + '.new'
        make(fresh)
        if os.path.exists(STAMP):
            os.remove(STAMP)
        shutil.rmtree(ROOT, ignore_errors=True)
        os.rename(fresh, ROOT)
        with open(STAMP, 'w', encoding='utf-8') as f:
            f.write(wanted_stamp())
        say('made in %.0f s' % (time.monotonic() - start))
        return ROOT


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('action', choices=['build', 'run'])
    parser.add_argument('--throwaway', action='store_true')
    args = sys.argv[1:]
    split = args.index('--') if '--' in args else len(args)
    options = parser.parse_args(args[:split])
    options.argv = args[split + 1:]
    try:
        root = build()
    except RuntimeError as error:
        say('FAILED: %s' % error)
        return 1
    if options.action == 'build':
        print(root)
        return 0
    if not options.argv:
        parser.error('run needs a command')
    return subprocess.run(command(options.argv, throwaway=options.throwaway)).returncode


if __name__ == '__main__':
    sys.exit(main())
