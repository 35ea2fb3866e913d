#!/usr/bin/env python3
"""Flood benchmark: how fast atcmd drains a modem that floods unsolicited
lines, and how much memory it takes, against a minimal reader with the same
127-byte reads (the floor). A benchmark, not a test: it prints figures and
checks nothing.

usage: flood.py --bin DIR [--sizes MB,MB,...] [--runs N]
DIR holds atcmd and modemsim (a build without sanitizers: build/release/bin).
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

LINE = b'\\r\\n+CIEV: 7,1\\r\\n'   # as a modemsim script writes it
FINAL = b'\\r\\nOK\\r\\n'


def build_floor(workdir):
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'floor_reader.c')
    program = os.path.join(workdir, 'floor_reader')
    subprocess.run(['cc', '-O2', '-o', program, source], check=True)
    return program


def start_modem(modemsim, workdir, size):
    script = os.path.join(workdir, 'flood.txt')
    with open(script, 'wb') as f:
        f.write(b'expect *\nflood %d %s\nsend %s\nsilence\n' % (size, LINE, FINAL))
    modem = subprocess.Popen([modemsim, '--script', script, '--idle-exit', '60'],
                             stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    return modem, modem.stdout.readline().decode().strip()


def peak_memory_kib(pid):
    """VmHWM of a running process: its peak resident memory since exec.
    (wait4's ru_maxrss would count the memory of the forked benchmark.)"""
    try:
        with open('/proc/%d/status' % pid) as status:
            for line in status:
                if line.startswith('VmHWM:'):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def timed(command):
    """Elapsed seconds, exit status and peak resident memory (KiB) of a run;
    memory sampled every 10 ms (it only grows, so the last sample is near)."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    peak = 0
    while True:
        peak = max(peak, peak_memory_kib(process.pid))
        pid, status = os.waitpid(process.pid, os.WNOHANG)
        if pid:
            break
        time.sleep(0.01)
    return time.monotonic() - start, os.waitstatus_to_exitcode(status), peak


def one_run(kind, bindir, floor, workdir, size):
    modem, port = start_modem(os.path.join(bindir, 'modemsim'), workdir, size)
    try:
        if kind == 'atcmd':
            command = [os.path.join(bindir, 'atcmd'), '/port', port, '/cmd', 'AT', '/resp', '^OK$',
                       '/timeout', '120000']
        else:
            command = [floor, port, str(size + len(FINAL) - FINAL.count(b'\\'))]
        return timed(command)
    finally:
        modem.terminate()
        modem.wait()
        modem.stdout.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--bin', required=True)
    parser.add_argument('--sizes', default='1,10,50')
    parser.add_argument('--runs', type=int, default=3)
    options = parser.parse_args()
    figures = []
    with tempfile.TemporaryDirectory(prefix='atcmd-bench.') as workdir:
        floor = build_floor(workdir)
        for megabytes in [int(m) for m in options.sizes.split(',')]:
            size = megabytes * 1000 * 1000
            results = {'atcmd': [], 'floor': []}
            for _ in range(options.runs):  # interleaved, so load hits both alike
                for kind in results:
                    results[kind].append(one_run(kind, options.bin, floor, workdir, size))
            for kind, runs in results.items():
                bad = [status for _, status, _ in runs if status != (1 if kind == 'atcmd' else 0)]
                if bad:
                    sys.exit('%s ended with %r on the %d MB flood' % (kind, bad, megabytes))
                seconds = statistics.median(r[0] for r in runs)
                peak = max(r[2] for r in runs) / 1024
                figures.append('%-5s flood %3d MB: %6.1f MB/s, peak RSS %5.1f MB' %
                               (kind, megabytes, size / seconds / 1e6, peak))
    print('\n'.join(figures))


if __name__ == '__main__':
    main()
