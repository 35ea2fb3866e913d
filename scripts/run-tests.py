#!/usr/bin/env python3
"""Runs CTest with the given arguments and keeps its summary line last.

CTest prints the tests that did not run after its summary, without saying
why. This prints them before it, grouped by the reason each test gave on a
line starting with "SKIPPED: ", and then the summary. The exit status is
CTest's.
"""
import collections
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

SUMMARY = re.compile(r'^\d+% tests passed, \d+ tests? failed out of \d+')
NOT_RUN_HEADER = 'The following tests did not run:'
NOT_RUN_ENTRY = re.compile(r'^\s+\d+ - (\S+) \((.*)\)$')


def skip_reasons(junit_path):
    """Test name -> the reason it gave for not running."""
    reasons = {}
    if not os.path.exists(junit_path):
        return reasons
    for case in ElementTree.parse(junit_path).getroot().iter('testcase'):
        output = case.findtext('system-out') or ''
        said = [line[len('SKIPPED: '):] for line in output.splitlines() if line.startswith('SKIPPED: ')]
        if said:
            reasons[case.get('name')] = said[-1]
    return reasons


def family(name):
    """e2e.wine32.ok_plain -> e2e.wine32.*"""
    head, _, _ = name.rpartition('.')
    return head + '.*' if head else name


def not_run_report(entries, reasons):
    """Lines for the tests that did not run: one group per reason, the
    names of a family (e2e.wine32.*) folded into one line."""
    groups = collections.defaultdict(list)
    for name, status in entries:
        groups[reasons.get(name) or status].append(name)
    lines = [NOT_RUN_HEADER + '\n']
    for reason, names in groups.items():
        lines.append('  %d, because: %s\n' % (len(names), reason))
        families = collections.Counter(family(n) for n in names)
        shown = []
        for name in names:
            group = family(name)
            label = '%s (%d tests)' % (group, families[group]) if families[group] > 1 else name
            if label not in shown:
                shown.append(label)
        lines += ['    %s\n' % label for label in shown]
    return lines


def after_summary(lines, reasons):
    """CTest's lines after its summary, its did-not-run block replaced by
    the report with reasons, runs of blank lines collapsed."""
    out, block = [], None
    for line in lines:
        if line.startswith(NOT_RUN_HEADER):
            block = []
            continue
        entry = NOT_RUN_ENTRY.match(line) if block is not None else None
        if entry:
            block.append(entry.groups())
            continue
        if block is not None:
            out += not_run_report(block, reasons)
            block = None
        if line.strip() or (out and out[-1].strip()):
            out.append(line)
    if block is not None:
        out += not_run_report(block, reasons)
    return out


def main(argv):
    with tempfile.TemporaryDirectory() as scratch:
        junit = os.path.join(scratch, 'results.xml')
        ctest = subprocess.Popen(['ctest', '--output-junit', junit] + argv,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        held = []
        for raw in ctest.stdout:
            line = raw.decode('utf-8', 'replace')
            if held or SUMMARY.match(line):
                held.append(line)
            else:
                sys.stdout.write(line)
                sys.stdout.flush()
        status = ctest.wait()
        reasons = skip_reasons(junit)

    summary, rest = (held[0], held[1:]) if held else ('', [])
    sys.stdout.write(''.join(after_summary(rest, reasons)).strip('\n') + '\n\n' + summary)
    return status


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
