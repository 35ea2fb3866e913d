#!/usr/bin/env python3
"""MBIM scenarios: atcmd against the stand-in port library (tools/mbimstub).

Each case copies the program and one library variant (or none) into a fresh
folder, sets the stub's behaviour through its environment, runs one
transaction and checks the exit code, the whole trace text, the answer on
standard output, the stub's call log and, where the program sleeps, the
elapsed time.

    run_mbim.py --list
    run_mbim.py --program bin/atcmd --libraries bin --case NAME
    run_mbim.py --wine wine64 --wine-prefix DIR --program bin/atcmd.exe \
                --libraries bin --case NAME      (or --wine wine32)

Exit status: 0 passed, 1 failed, 77 skipped (that Wine cannot run here).
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

# Wine handling and debug-output decoding are shared with the e2e scenarios.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "runner"))
import runner  # noqa: E402
import wine  # noqa: E402

LIBRARY = "MbimPortAPI.dll"
MAX_PATH = 260
FAILED = "MBIMPort_GetResponse failed, result({}), sleep awhile and try again ...\n"
SUCCEEDED = "MBIMPort_GetResponse succeeded\n"
SEND_AT_CSQ = "send handle=H len=6 bytes=" + b"AT+CSQ".hex()
PAUSE = 0.5
SLACK = 0.05           # clock granularity, not a margin for slowness
LATE = 15.0            # generous: a shared 2-core machine, Wine start-up
AT_CSQ = ["/cmd", "AT+CSQ", "/resp", "OK"]


class Case:
    """One run. `polls` is a fixed count or an allowed (min, max) range; the
    expected trace body and log are built for the count seen."""

    def __init__(self, name, args, library="full", env=None, rc=-1, body=None,
                 log=None, polls=0, min_elapsed=0.0, exe_length=None,
                 library_length=None, loads=None, answer=None):
        self.name = name
        # Standard output: the stub's answer when one was delivered.
        self.answer = answer if answer is not None else (
            self.env_answer(env) if rc == 1 else "")
        self.args = ["/mbim"] + args
        self.library = library
        self.env = env or {}
        self.rc = rc
        self.body = body or (lambda n: [])
        self.log = log or (lambda n: [])
        self.polls = polls if isinstance(polls, tuple) else (polls, polls)
        self.min_elapsed = min_elapsed
        self.exe_length = exe_length          # program path length to build
        self.library_length = library_length  # library path length to build
        self.loads = library is not None if loads is None else loads

    @staticmethod
    def env_answer(env):
        return (env or {}).get("MBIMSTUB_ANSWER", "OK")


def opened(send_line, *after):
    return ["open status=0 handle=H", send_line] + list(after) + ["close handle=H"]


def polls_log(failed, status, answered=True):
    lines = ["poll handle=H len=0 zeroed=1 status={}".format(status)] * failed
    if answered:
        lines.append("poll handle=H len=0 zeroed=1 status=0")
    return lines


def missing(variant, entry):
    return Case("missing_" + entry, AT_CSQ, library=variant,
                body=lambda n: ["can not find {} function\n".format(entry)])


CASES = [
    Case("library_absent", AT_CSQ, library=None, body=lambda n: ["load {library} failed\n"]),
    missing("no-open", "MBIM_DllOpen"),
    # The open entry exists, yet nothing may be opened without a way to close.
    missing("no-close", "MBIM_DllClose"),
    missing("no-send", "MBIMPort_Send"),
    missing("no-get-response", "MBIMPort_GetResponse"),
    Case("open_fails", AT_CSQ, env={"MBIMSTUB_OPEN_STATUS": "-5"},
         body=lambda n: ["MBIM_DllOpen failed, hres(-5)\n"],
         log=lambda n: ["open status=-5 handle=none"]),
    Case("open_positive_status_succeeds", AT_CSQ, env={"MBIMSTUB_OPEN_STATUS": "3"}, rc=1,
         polls=1, body=lambda n: [SUCCEEDED],
         log=lambda n: ["open status=3 handle=H", SEND_AT_CSQ] + polls_log(0, 0) +
         ["close handle=H"]),
    Case("send_fails", AT_CSQ, env={"MBIMSTUB_SEND_STATUS": "7"},
         body=lambda n: ["MBIMPort_Send failed, hres(7)\n"],
         log=lambda n: opened(SEND_AT_CSQ)),
    # Polls at about 0, 500 and 1000 ms; each failed one is followed by the
    # full pause, even past the limit.
    Case("no_answer_before_limit", AT_CSQ + ["/timeout", "1200"],
         env={"MBIMSTUB_FAILED_POLLS": "-1", "MBIMSTUB_POLL_STATUS": "-3"},
         polls=(2, 3), min_elapsed=1.2,
         body=lambda n: [FAILED.format(-3)] * n,
         log=lambda n: opened(SEND_AT_CSQ, *polls_log(n, -3, answered=False))),
    Case("answer_after_3_failed_polls", AT_CSQ + ["/timeout", "10000"],
         env={"MBIMSTUB_FAILED_POLLS": "3", "MBIMSTUB_POLL_STATUS": "-9"}, rc=1, polls=4,
         body=lambda n: [FAILED.format(-9)] * 3 + [SUCCEEDED],
         log=lambda n: opened(SEND_AT_CSQ, *polls_log(3, -9))),
    Case("timeout_0_polls_until_answer", AT_CSQ + ["/timeout", "0"],
         env={"MBIMSTUB_FAILED_POLLS": "2"}, rc=1, polls=3,
         body=lambda n: [FAILED.format(1)] * 2 + [SUCCEEDED],
         log=lambda n: opened(SEND_AT_CSQ, *polls_log(2, 1))),
    Case("response_not_compared", ["/cmd", "AT+CSQ", "/resp", "NEVER", "/timeout", "3000"],
         env={"MBIMSTUB_ANSWER": "ERROR"}, rc=1, polls=1, body=lambda n: [SUCCEEDED],
         log=lambda n: opened(SEND_AT_CSQ, *polls_log(0, 0))),
    # The text delivered: the length the library set when it fits the
    # buffer, else up to the first NUL; an empty answer writes nothing.
    Case("answer_of_set_length", AT_CSQ, rc=1, polls=1, body=lambda n: [SUCCEEDED],
         env={"MBIMSTUB_ANSWER": "+CSQ: 21,99\r\n\r\nOK\r\n", "MBIMSTUB_ANSWER_LENGTH": "13"},
         answer="+CSQ: 21,99\r\n", log=lambda n: opened(SEND_AT_CSQ, *polls_log(0, 0))),
    Case("answer_without_length", AT_CSQ, rc=1, polls=1, body=lambda n: [SUCCEEDED],
         env={"MBIMSTUB_ANSWER": "+CSQ: 21,99", "MBIMSTUB_ANSWER_LENGTH": "0"},
         log=lambda n: opened(SEND_AT_CSQ, *polls_log(0, 0))),
    Case("answer_length_beyond_buffer", AT_CSQ, rc=1, polls=1, body=lambda n: [SUCCEEDED],
         env={"MBIMSTUB_ANSWER": "+CSQ: 21,99", "MBIMSTUB_ANSWER_LENGTH": "1025"},
         log=lambda n: opened(SEND_AT_CSQ, *polls_log(0, 0))),
    Case("empty_answer", AT_CSQ, rc=1, polls=1, body=lambda n: [SUCCEEDED],
         env={"MBIMSTUB_ANSWER": ""}, log=lambda n: opened(SEND_AT_CSQ, *polls_log(0, 0))),
    Case("no_cmd_sends_nothing", ["/timeout", "3000"], rc=1, polls=1,
         body=lambda n: [SUCCEEDED],
         log=lambda n: opened("send handle=H len=0 bytes=", *polls_log(0, 0))),
    # GetModuleFileNameA fills the 260-char buffer: cut, so nothing is loaded.
    Case("program_path_too_long", AT_CSQ, exe_length=260, loads=False,
         body=lambda n: ["load {cut_path} failed\n"]),
    Case("program_path_at_limit_library_path_too_long", AT_CSQ, exe_length=259, loads=False,
         body=lambda n: ["load {folder} failed\n"]),
    Case("library_path_at_limit", AT_CSQ, library_length=259, rc=1, polls=1,
         body=lambda n: [SUCCEEDED], log=lambda n: opened(SEND_AT_CSQ, *polls_log(0, 0))),
]


class Native:
    exe_name = "atcmd"

    def __init__(self, options):
        pass

    def program_path(self, path):
        return path

    def run(self, exe, args, env, cwd):
        proc = subprocess.run([exe] + args, env=env, cwd=cwd, capture_output=True,
                              timeout=120)
        # The stand-in's OutputDebugStringA writes the text as it is to stderr.
        return proc.returncode, proc.stderr.decode("latin-1"), proc.stdout


class Wine:
    exe_name = "atcmd.exe"

    def __init__(self, options):
        self.wine = options.wine

    def program_path(self, path):
        return wine.windows_path(path)

    def run(self, exe, args, env, cwd):
        wine_env = self.wine.environment()
        for key in [k for k in wine_env if k.startswith("MBIMSTUB_")]:
            del wine_env[key]
        wine_env.update((k, v) for k, v in env.items() if k.startswith("MBIMSTUB_"))
        # Run directly, traces from Wine's debug channel (short enough for
        # it): through atcmd-trace the answer would share its standard output
        # with the traces. CreateProcess, and so atcmd-trace, could not start
        # the long-path cases anyway ("file not found"); Wine's loader can.
        proc = subprocess.run(self.wine.command(exe, args), env=wine_env, cwd=cwd, capture_output=True,
                              timeout=180)
        return proc.returncode, wine.trace_text(proc.stderr), proc.stdout


def padded_folder(root, mode, target, tail):
    """A folder under `root` whose program-side path plus `tail` is `target`
    characters long, made of long components so the trace stays short
    enough for Wine's debug quoting."""
    need = target - len(mode.program_path(root)) - len(tail)
    parts = []
    while need > 201:
        parts.append("p" * 200)
        need -= 201
    if need == 1:  # no empty component: move one character over
        parts[-1] = parts[-1][:-1]
        need = 2
    if need > 0:
        parts.append("p" * (need - 1))
    folder = os.path.join(root, *parts)
    assert len(mode.program_path(folder)) + len(tail) == target, "cannot pad"
    os.makedirs(folder)
    return folder


def case_folder(case, mode, root):
    if case.exe_length:
        return padded_folder(root, mode, case.exe_length, "/" + mode.exe_name)
    if case.library_length:
        return padded_folder(root, mode, case.library_length, "/" + LIBRARY)
    return root


def parse_log(path):
    """The log's lines with the opened handle written as H; checks that every
    call after the open names that handle."""
    if not os.path.exists(path):
        return []
    lines = open(path, encoding="latin-1").read().splitlines()
    handle = None
    for line in lines:
        m = re.match(r"open status=\d+ handle=(\S+)$", line)
        if m:
            handle = m.group(1)
    if handle is None:
        return lines
    return [line.replace("handle=" + handle, "handle=H") for line in lines]


def run_case(case, options):
    """The case's failed expectations."""
    mode = (Wine if options.wine else Native)(options)
    root = os.path.realpath(tempfile.mkdtemp(prefix="mbim-" + case.name[:20] + "-"))
    try:
        return check_case(case, mode, options, root)
    finally:
        shutil.rmtree(root, ignore_errors=True)


def check_case(case, mode, args, root):
    folder = case_folder(case, mode, root)
    exe = os.path.join(folder, mode.exe_name)
    shutil.copy2(args.program, exe)
    if case.library:
        sub = "" if case.library == "full" else os.path.join("variants", case.library)
        library = os.path.join(args.libraries, sub, LIBRARY)
        if not os.path.exists(library):
            return ["no {}: build the stub (tools/mbimstub) for this program".format(library)]
        shutil.copy2(library, os.path.join(folder, LIBRARY))
    log_path = os.path.join(root, "stub.log")
    env = {k: v for k, v in os.environ.items() if not k.startswith("MBIMSTUB_")}
    env.update(case.env)
    env["MBIMSTUB_LOG"] = mode.program_path(log_path)

    started = time.monotonic()
    rc, trace, answer = mode.run(exe, case.args, env, root)
    elapsed = time.monotonic() - started

    log = parse_log(log_path)
    polls = sum(1 for line in log if line.startswith("poll "))
    failed_polls = sum(1 for line in log
                       if line.startswith("poll ") and not line.endswith(" status=0"))
    errors = []
    if not case.polls[0] <= polls <= case.polls[1]:
        errors.append("polls: {} not in {}".format(polls, case.polls))

    program_path = mode.program_path(exe)
    library_path = mode.program_path(os.path.join(folder, LIBRARY))
    values = {"library": library_path, "cut_path": program_path[:259],
              "folder": mode.program_path(folder)}
    cmd = case.args[case.args.index("/cmd") + 1] + "\r\n" if "/cmd" in case.args else ""
    resp = case.args[case.args.index("/resp") + 1] if "/resp" in case.args else ""
    body = [line.format(**values) for line in case.body(polls)]
    if case.loads:
        body = ["mbimstub: load\n"] + body + ["mbimstub: unload\n"]
    expected_rc = 1 if case.rc == 1 else 255
    expected_trace = ("set MBIM request: 1\n" +
                      "MbimAtCommand(), cmd[{}]({}), resp({})\n".format(len(cmd), cmd, resp) +
                      "".join(body) + "AtCommand() return {}\n".format(case.rc))
    if rc != expected_rc:
        errors.append("exit code {}, expected {}".format(rc, expected_rc))
    if trace != expected_trace:
        errors.append("trace:\n{!r}\nexpected:\n{!r}".format(trace, expected_trace))
    if answer != case.answer.encode("latin-1"):
        errors.append("standard output {!r}, expected {!r}".format(answer, case.answer))

    expected_log = case.log(polls)
    if case.loads:
        expected_log = ["load"] + expected_log + ["unload"]
    if log != expected_log:
        errors.append("log:\n{}\nexpected:\n{}".format("\n".join(log), "\n".join(expected_log)))

    least = PAUSE * failed_polls - SLACK
    least = max(least, case.min_elapsed - SLACK)
    if not least <= elapsed <= least + LATE:
        errors.append("elapsed {:.3f} s, expected {:.3f} s to {:.3f} s".format(
            elapsed, least, least + LATE))
    return errors



def arguments(parser):
    parser.add_argument("--program", help="atcmd, or atcmd.exe with --wine")
    parser.add_argument("--libraries", help="the folder the stub and its variants are built in")


if __name__ == "__main__":
    sys.exit(runner.main(__doc__, CASES, run_case, arguments,
                         lambda options: [options.program, options.libraries]))
