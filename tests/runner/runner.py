"""What every test runner (e2e, mbim, trace) shares: its case table's names,
the choice of one case, Wine's known differences, and the verdict.

A runner gives `main` its table and a function that runs one case and
returns the failed expectations. A case has a `name` and, where Wine cannot
behave as Windows does, a `wine` WineDifference.

    RUNNER --list [--wine KIND]                  the case names, one a line
    RUNNER --case NAME [--wine KIND --wine-prefix DIR] [the runner's own]

Exit status: 0 passed, 1 failed, 77 skipped (that Wine cannot run here).
"""

import argparse
import dataclasses
import os
import sys
from typing import Optional, Tuple

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'wine'))
import wine  # noqa: E402


@dataclasses.dataclass(frozen=True)
class WineDifference:
    """A case Wine cannot run as Windows does: under the Wines in `kinds` it
    is listed with `suffix` added to its name and runs with `overrides`
    applied to its fields; `reason` says why."""
    reason: str
    suffix: str
    overrides: dict
    kinds: Tuple[str, ...] = tuple(sorted(wine.KINDS))


@dataclasses.dataclass(frozen=True)
class Differs:
    """A value that Wine spells differently (an error number)."""
    native: str
    wine: str

    def under(self, kind: Optional[str]) -> str:
        return self.wine if kind else self.native


def difference(case, kind: Optional[str]) -> Optional[WineDifference]:
    known = getattr(case, 'wine', None)
    return known if kind and known and kind in known.kinds else None


def name_under(case, kind: Optional[str]) -> str:
    """The case's name as `kind` (None: natively) runs it."""
    known = difference(case, kind)
    return case.name + known.suffix if known else case.name


def case_under(case, kind: Optional[str]):
    """The case as `kind` runs it, its difference applied and announced."""
    known = difference(case, kind)
    if not known:
        return case
    print('under %s: %s' % (kind, known.reason))
    return dataclasses.replace(case, **known.overrides)


def main(doc: str, cases, run, arguments=lambda parser: None, needed=lambda options: [],
         native: bool = True) -> int:
    """Lists the cases, or runs the one named and reports. `run(case,
    options)` returns the failures; options.wine is the started Wine, or
    None natively. `arguments(parser)` adds the runner's own options;
    `needed(options)` names the files a run needs (missing: failed)."""
    parser = argparse.ArgumentParser(description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--list', action='store_true', help='print the case names')
    parser.add_argument('--case', help='the case to run')
    parser.add_argument('--wine', choices=sorted(wine.KINDS), required=not native,
                        help='run the Windows build under this Wine')
    parser.add_argument('--wine-prefix', help="that Wine's prefix")
    arguments(parser)
    options = parser.parse_args()
    if options.list:
        print('\n'.join(name_under(case, options.wine) for case in cases))
        return 0
    chosen = [case for case in cases if name_under(case, options.wine) == options.case]
    if len(chosen) != 1:
        parser.error('no case %r (--list names them)' % options.case)
    if options.wine and not options.wine_prefix:
        parser.error('--wine needs --wine-prefix')
    paths = needed(options)
    if None in paths:
        parser.error('a program this runner needs is not named (--help lists them)')
    failures = ['%s is not built' % path for path in paths if not os.path.exists(path)]
    if not failures:
        if options.wine:
            options.wine = wine.Wine(options.wine, options.wine_prefix)
            status = options.wine.start()
            if status:
                return status
        failures = run(case_under(chosen[0], options.wine and options.wine.kind), options)
    for failure in failures:
        print('FAILED: ' + failure)
    if not failures:
        print('PASSED')
    return 1 if failures else 0
