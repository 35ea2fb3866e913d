"""The end-to-end scenarios: the whole program against the fake modem.

One row per scenario. `args` and trace fragments may hold {port}, replaced
by the port the run uses (the pty's path natively, \\\\.\\COMnn under Wine).
`traces` is an ordered subsequence of the program's trace text; `absent`
must not appear anywhere in it. `script` is a modemsim script (None: the
built-in answers). `wine` is None, or a WineDifference: what the row checks
instead under Wine, and why.
"""

from dataclasses import dataclass, field
from typing import List, Optional, Tuple, Union

from runner import Differs, WineDifference

Fragment = Union[str, Differs]


@dataclass
class Scenario:
    name: str
    args: List[str]
    result: Optional[int]               # the program's AtResult; None: any
    script: Optional[str] = None
    # modem | missing | locked | held (another program has it open, no
    # lock: `sleep`) | null (/dev/null)
    port: str = 'modem'
    modem_args: List[str] = field(default_factory=list)
    received: Optional[bytes] = None    # exactly what the modem must get
    traces: List[Fragment] = field(default_factory=list)
    absent: List[str] = field(default_factory=list)
    elapsed: Optional[Tuple[float, float]] = None   # seconds, generous
    cpu_max: Optional[float] = None     # user+sys seconds of the program
    # Where the traces go (standard error; atcmd-trace's standard output
    # under Wine): file | stalled (a pipe nobody reads) | closed (a pipe
    # with no reader). Only a file is read back.
    traces_to: str = 'file'
    # Exactly what standard output must hold (the modem's answer); None:
    # anything. `answer_to` is where standard output goes, as `traces_to`.
    answer: Optional[bytes] = None
    answer_to: str = 'file'
    wine: Optional[WineDifference] = None
    files: List[str] = field(default_factory=list)  # made empty in the run's folder first
    # Under Wine the traces are read through atcmd-trace (whole, in order);
    # False: from Wine's debug channel, with no debugger attached.
    traced: bool = True


def send(data: bytes) -> str:
    """A script `send` step for raw bytes."""
    names = {0x0d: '\\r', 0x0a: '\\n', 0x5c: '\\\\'}
    escaped = ''.join(names.get(b) or (chr(b) if 0x20 <= b < 0x7f else '\\x%02X' % b) for b in data)
    return 'send ' + escaped + '\n'


def split_answer(answer: bytes, at: int, pause_ms: int = 300) -> str:
    """Answers any command with `answer` in two writes, cut at `at`."""
    return 'expect *\n' + send(answer[:at]) + 'drain\npause %d\n' % pause_ms + send(answer[at:]) + 'silence\n'


def answer_with(*chunks: bytes, pause_ms: int = 300) -> str:
    steps = 'expect *\n'
    for i, chunk in enumerate(chunks):
        if i:
            steps += 'drain\npause %d\n' % pause_ms
        steps += send(chunk)
    return steps + 'silence\n'


def full_read(tail: bytes) -> bytes:
    """127 bytes, one full read, ending with `tail` after a filler line."""
    return b'.' * (125 - len(tail)) + b'\r\n' + tail


def read_buffer(chunk: bytes) -> str:
    """The trace of one read that delivered `chunk`."""
    return 'read buffer[%d]: %s' % (len(chunk), chunk.decode('latin-1'))


AT = ['/port', '{port}', '/cmd', 'AT']
LONG_COMMAND = 'AT+' + 'LONG' * 100
OPEN = [
    'set MBIM request: 0\n',
    'serial port open succeeded\n',
    'start to config serial port\n',
    'config serial port succeeded\n',
    'write at command succeeded.\n',
]
UNSOLICITED = b'\r\n^MODE: 2\r\r\n\r\n+CIEV: 7,1\r\n'
CREG = b'\r\n+CREG: 2,1,"1234","001122BB"\r\n\r\nOK\r\n'
# Windows' serial drivers refuse a second opener; Wine opens the tty with no
# lock of its own and does not check sharing on devices (seen: neither a
# flock held outside Wine nor a second Wine process holding the port stops
# the open). Under Wine the row checks that the held port is simply used.
LOCK_WINE = WineDifference(
    'Wine does not make a COM port exclusive; checking that the run goes on normally instead',
    '_not_exclusive_under_wine',
    dict(result=1, script=None, received=b'AT\r\n',
         traces=['serial port open succeeded\n', 'AtCommand() return 1\n'], absent=[]))
# The Windows program names no other holder: Windows refuses a second
# opener. Under Wine the pty is shared all the same.
HELD_WINE = WineDifference(
    'the Windows program names no other holder of a port (Windows refuses a second opener)',
    '_no_holder_named_under_wine',
    dict(traces=[OPEN[-1], 'AtCommand() return -2\n'], absent=['is also open in']))

# Wine 8 loses rbp after a C++ catch in an x64 program under a debugger
# (the search the library gives up on throws, and atcmd.exe catches it);
# Windows does not. Under Wine the row runs atcmd.exe without atcmd-trace.
CATCH_UNDER_DEBUGGER_WINE = WineDifference(
    'Wine 8 loses rbp after a C++ catch in an x64 program under a debugger; '
    'reading the traces from Wine\'s debug channel instead of through atcmd-trace',
    '_without_debugger_under_wine', dict(traced=False))

# The answer comes 50 ms before the deadline, inside the read's 100 ms
# interval: natively it is read and traced before the wait ends. Under Wine
# the bytes reach a pending read only once the Wine server has seen them and
# woken the program's thread, and on a loaded machine that took longer than
# the margin (seen once in a full run: -2 with no bytes read). Under Wine the
# row checks the verdict alone.
DEADLINE_MARGIN_WINE = WineDifference(
    'a 50 ms margin before the deadline that Wine on a loaded machine does not keep; '
    'checking the verdict alone',
    '_verdict_only_under_wine', dict(traces=['AtCommand() return -2\n']))

SCENARIOS: List[Scenario] = [
    Scenario(
        'worked_example', AT + ['/resp', 'OK', '/timeout', '3000'], 1,
        script='expect AT\nsend AT\\r\\r\\nOK\\r\\n\nsilence\n',
        received=b'AT\r\n',
        traces=['set MBIM request: 0\n',
                'SerialAtCommand(), portname({port}), cmd(AT\r\n), resp(OK), timeout(3000)\n']
        + OPEN[1:] + ['start to read serial port\n', 'wait return 0\n', 'start to get overlapped result',
                      read_buffer(b'AT\r\r\nOK\r\n'), 'AtCommand() return 1\n'],
        absent=['read ERROR result'], elapsed=(0.0, 2.5), answer=b'AT\r\r\nOK\r\n'),
    Scenario(
        'builtin_modem_option_case', ['/Port', '{port}', '/CMD', 'AT', '/Resp', '^OK$', '/TIMEOUT', '3000'], 1,
        received=b'AT\r\n', traces=OPEN + [read_buffer(b'AT\r\r\nOK\r\n'), 'AtCommand() return 1\n']),
    Scenario(
        'error_answer', AT + ['/resp', 'OK', '/timeout', '3000'], -1,
        script=answer_with(b'\r\nERROR\r\n'), received=b'AT\r\n',
        traces=OPEN + [read_buffer(b'\r\nERROR\r\n'), 'read ERROR result', 'AtCommand() return -1\n'],
        answer=b'\r\nERROR\r\n'),
    Scenario(
        'error_with_junk_after', AT + ['/resp', 'oooops', '/timeout', '3000'], -1,
        script=answer_with(b'\r\nERROR\r\n\r\noooops\r\n'),
        traces=['read ERROR result', 'AtCommand() return -1\n']),
    Scenario(
        'cme_error', ['/port', '{port}', '/cmd', 'AT+CFUN=1', '/resp', 'OK', '/timeout', '3000'], -1,
        script=answer_with(b'\r\n+CME ERROR: 10\r\n'), received=b'AT+CFUN=1\r\n',
        traces=OPEN + [read_buffer(b'\r\n+CME ERROR: 10\r\n'), 'read ERROR result',
                       'AtCommand() return -1\n']),
    Scenario(
        'builtin_cme_error', ['/port', '{port}', '/cmd', 'AT+CFUN=99', '/resp', 'OK', '/timeout', '3000'], -1,
        received=b'AT+CFUN=99\r\n', traces=['read ERROR result', 'AtCommand() return -1\n']),
    Scenario(
        'cms_error', AT + ['/resp', 'OK', '/timeout', '3000'], -1,
        script=answer_with(b'\r\n+CMS ERROR: 456\r\n'), traces=['read ERROR result', 'AtCommand() return -1\n']),
    Scenario(
        'idle_modem_times_out', AT + ['/resp', 'OK', '/timeout', '2000'], -2,
        script='silence\n', received=b'AT\r\n',
        traces=OPEN + ['start to read serial port\n', 'no bytes read\n', 'start to read serial port\n',
                       'no bytes read\n', 'AtCommand() return -2\n'],
        absent=['read buffer['], elapsed=(1.9, 3.5), cpu_max=1.0),
    Scenario(
        'not_a_final_answer_keeps_waiting', AT + ['/resp', 'OK', '/timeout', '1500'], -2,
        script=answer_with(b'\r\nUNKNOWN COMMAND\r\n'),
        traces=[read_buffer(b'\r\nUNKNOWN COMMAND\r\n'), 'no bytes read\n', 'AtCommand() return -2\n'],
        elapsed=(1.4, 3.0), answer=b'\r\nUNKNOWN COMMAND\r\n'),
    Scenario(
        'ok_split_in_two_reads', AT + ['/resp', 'OK', '/timeout', '3000'], 1,
        script=answer_with(b'\r\nO', b'K\r\n'),
        traces=[read_buffer(b'\r\nO'), read_buffer(b'K\r\n'), 'AtCommand() return 1\n'], answer=b'\r\nOK\r\n'),
    Scenario(
        'error_split_in_two_reads', AT + ['/resp', 'OK', '/timeout', '3000'], -1,
        script=answer_with(b'\r\nERR', b'OR\r\n'),
        traces=[read_buffer(b'\r\nERR'), read_buffer(b'OR\r\n'), 'read ERROR result',
                'AtCommand() return -1\n']),
    Scenario(
        'error_across_read_size', AT + ['/resp', 'OK', '/timeout', '3000'], -1,
        script=answer_with(b'\r\n' + b'A' * 124 + b'ERROR\r\n'),
        traces=['read buffer[127]: \r\n', read_buffer(b'RROR\r\n'), 'read ERROR result']),
    Scenario(
        'multi_line_answer', ['/port', '{port}', '/cmd', 'AT+CSQ', '/resp', '^\\+CSQ', '/timeout', '3000'], 1,
        received=b'AT+CSQ\r\n', traces=[read_buffer(b'AT+CSQ\r\r\n+CSQ: 21,99\r\n\r\nOK\r\n'),
                                        'AtCommand() return 1\n']),
    Scenario(
        'unsolicited_line_after_ok', AT + ['/resp', '^OK$', '/timeout', '3000'], 1,
        # The read that decided the run brought the unsolicited line too.
        script=answer_with(b'\r\nOK\r\n\r\n+CMTI: "ME",1\r\n'), traces=['AtCommand() return 1\n'],
        answer=b'\r\nOK\r\n\r\n+CMTI: "ME",1\r\n'),
    Scenario(
        'unsolicited_lines_before_answer', ['/port', '{port}', '/cmd', 'AT+CREG?', '/resp', '^\\+CREG: 2,1',
                                            '/timeout', '3000'], 1,
        script=answer_with(UNSOLICITED, CREG),
        traces=[read_buffer(UNSOLICITED), read_buffer(CREG), 'AtCommand() return 1\n'], answer=UNSOLICITED + CREG),
    Scenario(
        'message_prompt_without_line_feed', ['/port', '{port}', '/cmd', 'AT+CMGS="123"', '/resp', '^> ',
                                             '/timeout', '3000'], 1,
        script=answer_with(b'\r\n> '), traces=[read_buffer(b'\r\n> '), 'AtCommand() return 1\n']),
    Scenario(
        'nul_inside_line', AT + ['/resp', 'OK', '/timeout', '2000'], 1,
        script=answer_with(b'\r\nX\x00OK\r\n'), traces=['AtCommand() return 1\n'], answer=b'\r\nX\x00OK\r\n'),
    Scenario(
        'empty_command', ['/port', '{port}', '/resp', 'OK', '/timeout', '3000'], 1,
        # No command tells the modem that the port is ready; a blank line
        # that the program purges (or reads) does, so the answer comes
        # after the purge of what waited before the write. Two drains give
        # a slow Wine start up to 6 s.
        script=send(b'\r\n') + 'drain\ndrain\npause 300\n' + send(b'\r\nOK\r\n') + 'silence\n',
        received=b'',
        traces=['cmd(), resp(OK)', 'write at command succeeded.\n', 'AtCommand() return 1\n']),
    Scenario(
        'no_time_limit', AT + ['/resp', 'OK', '/timeout', '0'], 1,
        script='expect AT\npause 1200\n' + send(b'\r\nOK\r\n') + 'silence\n',
        traces=['timeout(0)\n', 'no bytes read\n', 'no bytes read\n', 'AtCommand() return 1\n'],
        elapsed=(1.1, 3.0)),
    Scenario(
        'timeout_minus_one_is_a_long_limit', AT + ['/resp', 'OK', '/timeout', '-1'], 1,
        script='expect AT\npause 600\n' + send(b'\r\nOK\r\n') + 'silence\n',
        traces=['timeout(-1)\n', 'no bytes read\n', 'AtCommand() return 1\n']),
    Scenario(
        'missing_port', ['/port', '{port}', '/cmd', 'AT', '/resp', 'OK', '/timeout', '1000'], -1,
        port='missing',
        traces=['set MBIM request: 0\n', 'can not open {port}, error: 2\n',
                'AtCommand() return -1\n'],
        absent=['serial port open succeeded'], elapsed=(0.0, 2.0), answer=b''),
    Scenario(
        'port_held_by_another_program', AT + ['/resp', 'OK', '/timeout', '1000'], -1,
        port='locked', received=b'',
        traces=['can not open {port}, error: 16\n', 'port {port} is also open in ', 'AtCommand() return -1\n'],
        absent=['serial port open succeeded'], wine=LOCK_WINE),
    # Another program reads the port too (a `cat` left running): the run
    # that gets no answer names it.
    Scenario(
        'port_shared_with_another_program', AT + ['/resp', 'OK', '/timeout', '1000'], -2, port='held',
        script='expect AT\nsilence\n', received=b'AT\r\n',
        traces=[OPEN[-1], 'port {port} is also open in ', ' (sleep)\n', 'AtCommand() return -2\n'],
        wine=HELD_WINE),
    Scenario(
        'hang_up_during_read', AT + ['/resp', 'OK', '/timeout', '5000'], -1,
        script='expect AT\n' + send(b'\r\nO') + 'drain\npause 300\nhangup\n',
        traces=OPEN + [read_buffer(b'\r\nO'),
                       # EIO; Wine: ERROR_BROKEN_PIPE
                       Differs('get overlapped failed, error: 5\n', 'get overlapped failed, error: 109\n'),
                       'AtCommand() return -1\n'],
        elapsed=(0.3, 2.0), cpu_max=0.5),
    Scenario(
        'answer_then_hang_up', AT + ['/resp', 'OK', '/timeout', '3000'], 1,
        script='expect AT\n' + send(b'\r\nOK\r\n') + 'hangup\n',
        traces=OPEN + [read_buffer(b'\r\nOK\r\n'), 'AtCommand() return 1\n'], elapsed=(0.0, 2.0)),
    Scenario(
        'error_after_partial_match_at_end_of_full_read', AT + ['/resp', 'CME', '/timeout', '3000'], -1,
        script=answer_with(full_read(b'\r\n+CME'), b' ERROR: 10\r\n'),
        traces=[read_buffer(full_read(b'\r\n+CME')), read_buffer(b' ERROR: 10\r\n'), 'read ERROR result',
                'AtCommand() return -1\n']),
    Scenario(
        'partial_match_after_pause_counts', AT + ['/resp', 'CME', '/timeout', '3000'], 1,
        script=answer_with(b'\r\n+CME', b' ERROR: 10\r\n'),
        traces=[read_buffer(b'\r\n+CME'), 'AtCommand() return 1\n'], absent=['read ERROR result']),
    Scenario(
        'look_ahead_past_a_pause', AT + ['/resp', 'OK(?!$)', '/timeout', '2000'], 1,
        # At the pause the look-ahead fails at the end of "OK"; once "x" has
        # come the line is searched again from its start.
        script=answer_with(b'OK', b'x\r\n'),
        traces=[read_buffer(b'OK'), read_buffer(b'x\r\n'), 'AtCommand() return 1\n'], answer=b'OKx\r\n'),
    Scenario(
        'look_behind_past_a_pause', AT + ['/resp', '\\s*?OK\\s*(?<=\\s)', '/timeout', '2000'], 1,
        # At the pause the look-behind fails behind the end of "OK", which
        # the regex library does not report as a partial match.
        script=answer_with(b'OK', b' \r\n'), traces=[read_buffer(b'OK'), 'AtCommand() return 1\n']),
    Scenario(
        'match_only_a_resumed_search_finds', AT + ['/resp', '^\\Z(?s)[^O]', '/timeout', '1500'], -2,
        # A search resumed at the second \f matches it (^ after the first,
        # \Z before the last); one from the line's start does not.
        script=answer_with(b'QS\f', b'\f', b'\r\n'), traces=[read_buffer(b'\f'), 'AtCommand() return -2\n']),
    Scenario(
        'wildcards_reach_the_program', AT + ['/resp', 'O*K?', '/timeout', '3000'], 1,
        # A runtime that expanded wildcards would pass OUTLOOK1 instead.
        script=answer_with(b'AT\r\r\nOK\r\n'), files=['OUTLOOK1'],
        traces=['resp(O*K?)', 'AtCommand() return 1\n']),
    Scenario(
        'malformed_expression', AT + ['/resp', '(', '/timeout', '1500'], -2,
        # Compiled once, before the reads: its error is traced once, with the library's message.
        received=b'AT\r\n', traces=['write at command succeeded.\n', 'regex compile failed: ',
                                     read_buffer(b'AT\r\r\nOK\r\n'), 'AtCommand() return -2\n'],
        absent=['regex search failed'], elapsed=(1.4, 3.0)),
    Scenario(
        'catastrophic_expression', AT + ['/resp', '(x+x+)+y|^OK$', '/timeout', '3000'], 1,
        script=answer_with(b'\r\n' + b'x' * 30 + b'\r\n\r\nOK\r\n'),
        traces=['regex search failed: ', 'AtCommand() return 1\n'], elapsed=(0.0, 2.5),
        wine=CATCH_UNDER_DEBUGGER_WINE),
    Scenario(
        'option_without_value_at_end', ['/port', '{port}', '/cmd', 'AT', '/resp'], -1,
        received=b'', absent=['SerialAtCommand(', 'serial port open succeeded', 'set MBIM request']),
    Scenario(
        'port_name_taken_from_next_option', ['/port', '/cmd', 'AT', '/timeout', '1000'], -1,
        port='missing', traces=['portname(/cmd), cmd(), resp(), timeout(1000)\n', 'can not open /cmd, error: 2\n']),
    Scenario(
        'no_arguments', [], -1, port='missing',
        traces=['set MBIM request: 0\n', 'portname()',
                # ENOENT; Wine: ERROR_PATH_NOT_FOUND
                Differs('can not open , error: 2\n', 'can not open , error: 3\n'),
                'AtCommand() return -1\n']),
    Scenario(
        'mbim_request_traced', ['/MBIM', '/cmd', 'AT', '/timeout', '1000'], None, port='missing',
        traces=['set MBIM request: 1\n', 'AtCommand() return '], absent=['SerialAtCommand('],
        elapsed=(0.0, 4.0)),
    # A trace longer than Wine's debug channel passes (about 290 characters)
    # is compared whole under Wine too: the runner reads it through atcmd-trace.
    Scenario(
        'long_command_traced_whole', ['/port', '{port}', '/cmd', LONG_COMMAND, '/resp', 'OK', '/timeout', '3000'], 1,
        script=answer_with(b'\r\nOK\r\n'), received=LONG_COMMAND.encode() + b'\r\n',
        traces=['SerialAtCommand(), portname({port}), cmd(%s\r\n), resp(OK), timeout(3000)\n' % LONG_COMMAND,
                'AtCommand() return 1\n']),
]

# An operator list longer than 1023 characters, the home operator last.
COPS = b'\r\n+COPS: ' + b'(1,"Other","OTH","00101",7),' * 60 + b'(2,"Home","HOME","26201",7)\r\n\r\nOK\r\n'
PROMPT = b'AT+CMGS=10\r\r\n> '
SCENARIOS += [
    # A partial line counts as soon as it is decided: the read that brought
    # it ended short (the modem paused) or it holds a carriage return.
    Scenario(
        'message_prompt_with_short_limit', ['/port', '{port}', '/cmd', 'AT+CMGS=10', '/resp', '^> ',
                                            '/timeout', '400'], 1,
        script='expect AT+CMGS=10\n' + send(PROMPT) + 'silence\n',
        traces=[read_buffer(PROMPT), 'AtCommand() return 1\n'], absent=['no bytes read'],
        elapsed=(0.0, 0.45)),
    Scenario(
        'final_line_ending_in_carriage_return', AT + ['/resp', '^OK$', '/timeout', '450'], 1,
        script=answer_with(b'\r\nOK\r'), traces=[read_buffer(b'\r\nOK\r'), 'AtCommand() return 1\n'],
        absent=['no bytes read'], elapsed=(0.0, 0.4)),
    Scenario(
        'prompt_at_end_of_full_read_waits_for_quiet', ['/port', '{port}', '/cmd', 'AT+CMGS=10', '/resp', '^> $',
                                                       '/timeout', '3000'], 1,
        script=answer_with(full_read(b'\r\n> ')),
        traces=[read_buffer(full_read(b'\r\n> ')), 'no bytes read\n', 'AtCommand() return 1\n']),
    # The first read ends with "+CSQ: " and 119 nines, which the expression
    # would match; the whole line has 130.
    Scenario(
        'line_cut_by_full_read_judged_whole', AT + ['/resp', '^\\+CSQ: 9{119}$', '/timeout', '1500'], -2,
        script=answer_with(b'\r\n+CSQ: ' + b'9' * 130 + b'\r\n\r\nOK\r\n'),
        traces=['read buffer[127]: \r\n+CSQ: 999', 'AtCommand() return -2\n']),
    Scenario(
        'match_past_character_1023', ['/port', '{port}', '/cmd', 'AT+COPS=?', '/resp', '^\\+COPS: .*"26201"',
                                      '/timeout', '5000'], 1,
        script=answer_with(COPS), traces=['AtCommand() return 1\n']),
    Scenario(
        'error_across_character_1023', AT + ['/resp', 'OK', '/timeout', '5000'], -1,
        script=answer_with(b'x' * 1020 + b'ERROR\r\n', b'OK\r\n'),
        traces=['read ERROR result', 'AtCommand() return -1\n']),
    # Failure paths of the transaction.
    Scenario(
        'port_is_no_serial_device', AT + ['/resp', 'OK', '/timeout', '1000'], -1, port='null',
        traces=['serial port open succeeded\n', 'start to config serial port\n',
                # ERROR_INVALID_FUNCTION, as Windows' drivers answer; Wine: ERROR_NOT_SUPPORTED
                Differs('set comm timeouts failed, error: 1\n', 'set comm timeouts failed, error: 50\n'),
                'config serial port failed, ret(-1)\n', 'AtCommand() return -1\n'],
        absent=['config serial port succeeded']),
    Scenario(
        'modem_reads_nothing', ['/port', '{port}', '/cmd', 'AT' + 'A' * 30000, '/resp', 'OK', '/timeout', '0'], -1,
        script='deaf\n',
        traces=OPEN[1:4] + ['write less bytes to serial, required(30004), ret(', 'AtCommand() return -1\n'],
        absent=['write at command succeeded'], elapsed=(4.8, 7.5)),
    Scenario(
        'answer_just_before_the_deadline', AT + ['/resp', 'OK', '/timeout', '1000'], -2,
        script='expect AT\npause 950\n' + send(b'\r\nOK\r\n') + 'silence\n',
        # The pass ends by the wait's limit or by the read's own total,
        # whichever comes first at the deadline; the bytes are traced either way.
        traces=[read_buffer(b'\r\nOK\r\n'), 'AtCommand() return -2\n'],
        elapsed=(0.9, 2.0),
        wine=DEADLINE_MARGIN_WINE),
    # An answer that an earlier run left in the port must not judge this one.
    Scenario(
        'stale_ok_from_earlier_run', ['/port', '{port}', '/cmd', 'AT+CFUN=99', '/resp', 'OK', '/timeout', '3000'],
        -1, modem_args=['--stale', '\\r\\nOK\\r\\n'],
        received=b'AT+CFUN=99\r\n', traces=['read ERROR result', 'AtCommand() return -1\n'],
        absent=[read_buffer(b'\r\nOK\r\n')], answer=b'AT+CFUN=99\r\r\n+CME ERROR: 10\r\n'),
]

# Nothing the program writes can hold it: a reader of the traces that
# stops reading, or is gone, changes neither the verdict nor the time.
FLOOD = 'expect *\nflood 20000000 \\r\\n+CREG: 1,"1234","001122BB"\\r\\n\n'
SCENARIOS += [
    Scenario(
        'flood_with_stalled_trace_reader', AT + ['/resp', 'never', '/timeout', '2000'], -2,
        script=FLOOD, traces_to='stalled', elapsed=(1.9, 2.6)),
    Scenario(
        'flood_with_closed_trace_reader', AT + ['/resp', 'never', '/timeout', '2000'], -2,
        script=FLOOD, traces_to='closed', elapsed=(1.9, 2.6)),
    Scenario(
        'flood_with_stalled_answer_reader', AT + ['/resp', 'never', '/timeout', '2000'], -2,
        script=FLOOD, answer_to='stalled', elapsed=(1.9, 2.6)),
    Scenario(
        'answer_to_closed_output', AT + ['/resp', 'OK', '/timeout', '3000'], 1,
        script=answer_with(b'\r\nOK\r\n'), answer_to='closed', traces=['AtCommand() return 1\n'],
        elapsed=(0.0, 2.0)),
    Scenario(
        'partial_answer_at_the_time_limit', AT + ['/resp', 'OK', '/timeout', '1000'], -2,
        script=answer_with(b'\r\n+CSQ: 2'), answer=b'\r\n+CSQ: 2', elapsed=(0.9, 2.0)),
    Scenario(
        'answer_with_closed_trace_reader', AT + ['/resp', 'OK', '/timeout', '3000'], 1,
        script=answer_with(b'\r\nOK\r\n'), traces_to='closed', elapsed=(0.0, 2.0)),
]

# 'OK' and 'ERROR' cut at every position: a line is examined whole however
# the reads deliver it.
for cut in range(1, len(b'\r\nOK\r\n')):
    SCENARIOS.append(Scenario(
        'ok_cut_at_%d' % cut, AT + ['/resp', '^OK$', '/timeout', '3000'], 1,
        script=split_answer(b'\r\nOK\r\n', cut), traces=['AtCommand() return 1\n']))
for cut in range(1, len(b'\r\nERROR\r\n')):
    SCENARIOS.append(Scenario(
        'error_cut_at_%d' % cut, AT + ['/resp', 'OK', '/timeout', '3000'], -1,
        script=split_answer(b'\r\nERROR\r\n', cut), traces=['read ERROR result', 'AtCommand() return -1\n']))
