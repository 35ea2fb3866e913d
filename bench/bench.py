#!/usr/bin/env python3
"""The benchmark: atcmd against a floor, a minimal static C reader with
atcmd's read rule (floor_reader.c), each figure taken from runs that take
turns, so that load on the machine hits both alike. Prints figures and
checks nothing.

- one AT/OK run: elapsed time above the floor's, and CPU time against it;
- a flood of unsolicited lines: throughput against the floor's, with
  standard output and standard error each a pipe that is read, a file, and
  /dev/null; peak memory of a long flood;
- one long line, then OK: the cost of 16 and of 64 KiB;
- last, the goals' table: each figure that has a goal, beside it.

usage: bench.py --bin DIR [--runs N] [--flood-mb MB] [--memory-mb MB]
DIR holds atcmd and modemsim (a build without sanitizers: build/release/bin).
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile

from measure import OUTPUTS, Modem, run

LINE = b'\\r\\n+CREG: 1,5\\r\\n'   # as a modemsim script writes it
FINAL = b'\\r\\nOK\\r\\n'


def build_floor(workdir):
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'floor_reader.c')
    program = os.path.join(workdir, 'floor_reader')
    subprocess.run(['cc', '-O2', '-static', '-o', program, source], check=True)
    return program


def commands(bindir, floor, port):
    atcmd = [os.path.join(bindir, 'atcmd'), '/port', port, '/cmd', 'AT', '/resp', '^OK$', '/timeout', '120000']
    return {'atcmd': (atcmd, 1), 'floor': ([floor, port], 0)}


def checked(kind, expected_status, result, case):
    if result[1] != expected_status:
        sys.exit('%s ended with %d: %s' % (kind, result[1], case))
    return result


def taking_turns(options, runs, modem_script, output='null', workdir='/tmp'):
    """Runs atcmd and the floor in turn `runs` times each, against a fresh
    modem per run when it follows a script; {kind: [results]}."""
    results = {'atcmd': [], 'floor': []}
    with Modem(options.bin, workdir) as shared:
        for _ in range(runs):
            for kind in results:
                if modem_script is None:
                    command, status = commands(options.bin, options.floor, shared.port)[kind]
                    results[kind].append(checked(kind, status, run(command, output, workdir), modem_script or output))
                    continue
                with Modem(options.bin, workdir, modem_script) as modem:
                    command, status = commands(options.bin, options.floor, modem.port)[kind]
                    results[kind].append(checked(kind, status, run(command, output, workdir), modem_script or output))
    return results


def median_ms(results, index):
    return statistics.median(r[index] for r in results) * 1000


# The goals: (figure, how the figure reads, the goal's text, the test).
GOALS = []


def goal(figure, shown, text, met):
    GOALS.append((figure, shown, text, met))


def goals_table():
    rows = ['| figure | now | goal | met |', '|---|---|---|---|']
    rows += ['| %s | %s | %s | %s |' % (figure, shown, text, 'yes' if met else 'no')
             for figure, shown, text, met in GOALS]
    return ['goals:'] + rows


def one_at(options, workdir):
    results = taking_turns(options, options.runs, None, 'null', workdir)
    above = statistics.median(a[0] - f[0] for a, f in zip(results['atcmd'], results['floor'])) * 1000
    cpu = {kind: median_ms(runs, 2) for kind, runs in results.items()}
    ratio = cpu['atcmd'] / cpu['floor']
    goal('CPU of one `AT` run against the C floor', '%.1f vs %.1f ms (%.2fx)' % (cpu['atcmd'], cpu['floor'], ratio),
         '<= 1.5x', ratio <= 1.5)
    goal('elapsed time of one `AT` run above the floor', '%.1f ms' % above, '<= 1.5 ms', above <= 1.5)
    return ['one AT/OK run, %d runs each, medians:' % options.runs,
            '  elapsed  atcmd %6.1f ms  floor %6.1f ms  above the floor %4.1f ms (paired)' %
            (median_ms(results['atcmd'], 0), median_ms(results['floor'], 0), above),
            '  CPU      atcmd %6.1f ms  floor %6.1f ms  %4.2fx the floor' %
            (cpu['atcmd'], cpu['floor'], cpu['atcmd'] / cpu['floor'])]


FLOOD_OUTPUTS = {'pipe': 'a read pipe', 'file': 'a file', 'null': '/dev/null'}


def flood_script(size, line=LINE):
    return b'expect *\nflood %d %s\nsend %s\nsilence\n' % (size, line, FINAL)


def flood(options, workdir):
    size = options.flood_mb * 1000 * 1000
    lines = ['flood of %d MB of +CREG lines, %d runs each, medians:' % (options.flood_mb, options.flood_runs)]
    for output in OUTPUTS:
        results = taking_turns(options, options.flood_runs, flood_script(size), output, workdir)
        speed = {kind: size / statistics.median(r[0] for r in runs) / 1e6 for kind, runs in results.items()}
        ratio = speed['atcmd'] / speed['floor']
        goal('flood, stdout and stderr %s' % FLOOD_OUTPUTS[output], '%.2fx' % ratio, '>= 0.65x', ratio >= 0.65)
        lines.append('  outputs %-4s  atcmd %5.1f MB/s  floor %5.1f MB/s  %4.2fx the floor' %
                     (output, speed['atcmd'], speed['floor'], speed['atcmd'] / speed['floor']))
    size = options.memory_mb * 1000 * 1000
    with Modem(options.bin, workdir, flood_script(size)) as modem:
        command, status = commands(options.bin, options.floor, modem.port)['atcmd']
        result = checked('atcmd', status, run(command, 'null', workdir, sample_memory=True), 'memory')
    lines.append('  peak memory of a %d MB flood: %.1f MB' % (options.memory_mb, result[3] / 1024))
    return lines


def long_line(options, workdir):
    lines = ['one long line, then OK, %d runs each, medians:' % options.flood_runs]
    for kib in (16, 64):
        script = b'expect *\nsend \\r\\n\nflood %d x\nsend %s\nsilence\n' % (kib * 1024, FINAL)
        results = taking_turns(options, options.flood_runs, script, 'null', workdir)
        lines.append('  %2d KiB  atcmd %6.1f ms  floor %6.1f ms  CPU atcmd %5.1f ms' %
                     (kib, median_ms(results['atcmd'], 0), median_ms(results['floor'], 0),
                      median_ms(results['atcmd'], 2)))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--bin', required=True)
    parser.add_argument('--runs', type=int, default=40, help='one-AT runs of each program')
    parser.add_argument('--flood-runs', type=int, default=3)
    parser.add_argument('--flood-mb', type=int, default=10)
    parser.add_argument('--memory-mb', type=int, default=50)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix='atcmd-bench.') as workdir:
        options.floor = build_floor(workdir)
        figures = one_at(options, workdir) + flood(options, workdir) + long_line(options, workdir) + goals_table()
    print('\n'.join(figures))


if __name__ == '__main__':
    main()
