#!/usr/bin/env python3
"""Runs the native test layers in the coverage tree and prints line and
branch coverage per file and per folder for atcmd/, posix/ and tools/.

    coverage.py BUILD_DIR [-j N]

Counts start from zero on every run. Branches that only an exception can
take (the hidden ones of every call that may throw) are left out: they say
nothing about the program's own decisions. The exit status is non-zero when
a test failed; the figures are printed all the same.
"""
import argparse
import collections
import json
import os
import pathlib
import subprocess
import sys
import tempfile

# The layers that run natively, in this tree, without Wine or the release tree.
LAYERS = ['common', 'unit', 'posix', 'e2e.native', 'mbim.native', 'fake', 'trace.unit']
FOLDERS = ['atcmd', 'posix', 'tools']


def clear_counts(build):
    for counts in pathlib.Path(build).rglob('*.gcda'):
        counts.unlink()


def run_tests(build, jobs):
    pattern = '^(' + '|'.join(layer.replace('.', r'\.') for layer in LAYERS) + r')\.'
    # The *.tsan tests run the ThreadSanitizer tree's programs, which count nothing here.
    return subprocess.run(['ctest', '--test-dir', build, '-R', pattern, '-E', r'\.tsan$', '-j', str(jobs),
                           '--output-on-failure']).returncode


def summary(source, build, jobs):
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, 'summary.json')
        # CMake's compiler checks leave counts files of their own.
        command = ['gcovr', '--root', source, '--object-directory', build, '-j', str(jobs),
                   '--exclude-directories', '.*/CMakeFiles/[0-9.]+(/.*)?',
                   '--exclude-throw-branches', '--json-summary', out]
        for folder in FOLDERS:
            command += ['--filter', os.path.join(source, folder) + '/']
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        with open(out) as f:
            return json.load(f)['files']


def percent(covered, total):
    return '%6.1f %%' % (100.0 * covered / total) if total else '     - '


def row(name, c):
    return '%-44s %5d/%-5d %s   %5d/%-5d %s' % (
        name, c['line_covered'], c['line_total'], percent(c['line_covered'], c['line_total']),
        c['branch_covered'], c['branch_total'], percent(c['branch_covered'], c['branch_total']))


def report(files):
    keys = ['line_covered', 'line_total', 'branch_covered', 'branch_total']
    folders = collections.OrderedDict((folder, dict.fromkeys(keys, 0)) for folder in FOLDERS)
    print('%-44s %-19s %s' % ('file', 'lines', 'branches'))
    for entry in sorted(files, key=lambda e: e['filename']):
        print(row(entry['filename'], entry))
        totals = folders[entry['filename'].split('/')[0]]
        for key in keys:
            totals[key] += entry[key]
    print()
    print('%-44s %-19s %s' % ('folder', 'lines', 'branches'))
    for folder, totals in folders.items():
        print(row(folder + '/', totals))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('build')
    parser.add_argument('-j', type=int, default=os.cpu_count())
    args = parser.parse_args()
    source = str(pathlib.Path(__file__).resolve().parent.parent)
    build = str(pathlib.Path(args.build).resolve())
    clear_counts(build)
    status = run_tests(build, args.j)
    print()
    report(summary(source, build, args.j))
    if status != 0:
        print('\nsome tests failed: the figures above count what ran', file=sys.stderr)
    return status


if __name__ == '__main__':
    sys.exit(main())
