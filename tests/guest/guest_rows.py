"""The guest's rows: the end-to-end scenarios on the kernel's real serial
drivers, plus the few cases only a real driver shows.

Every e2e row runs on /dev/ttyACM0 or /dev/ttyACM1 (cdc_acm, the modem
played on the USB gadget's /dev/ttyGS0 or /dev/ttyGS1) unless NOT_IN_GUEST says
why it cannot; UART_ROWS run on /dev/ttyS1 (the 8250 driver) too, the
modem on /dev/ttyS2 wired to it. The repeated runs have /dev/ttyACM2 and
the UART.
"""

import dataclasses
from dataclasses import dataclass
from typing import List, Optional, Tuple

import scenarios
from scenarios import AT, Scenario, answer_with, send

# e2e rows the guest cannot run as they are meant, and why.
CLOSED_IS_NO_HANG_UP = ('closing the modem\'s end of a USB or UART line is no hang-up '
                        '(modem_reset_mid_answer unplugs the gadget instead)')
TIGHT_TIMING = 'what it checks rests on a margin of 200 ms or less, more than an emulated guest on a busy machine keeps'
NOT_IN_GUEST = {
    'hang_up_during_read': CLOSED_IS_NO_HANG_UP,
    'answer_then_hang_up': CLOSED_IS_NO_HANG_UP,
    # Verdicts that rest on a margin of 100 ms or less between the modem's
    # pause and a limit: the modem resumes 400 ms after a full read, within
    # the next read's 500 ms; it answers 50 ms before the time limit. An
    # emulated guest on a busy machine is that much late (seen: both
    # verdicts turned). The modem's 1200 ms pause against two empty reads of
    # 500 ms each leaves 200 ms (seen: one empty read, the guest's program
    # started reading late).
    'error_after_partial_match_at_end_of_full_read': TIGHT_TIMING,
    'answer_just_before_the_deadline': TIGHT_TIMING,
    'no_time_limit': TIGHT_TIMING,
}
# Rows whose modem pause is lengthened in the guest, (from, to) in its
# script. timeout_minus_one_is_a_long_limit wants one empty read before the
# answer: a 600 ms pause against a 500 ms read leaves 100 ms for the
# program to start reading (seen: the guest's program started later and
# read the OK at once). 1500 ms leave a second.
WIDER_MARGIN = {'timeout_minus_one_is_a_long_limit': ('pause 600\n', 'pause 1500\n')}
# Not stale_ok_from_earlier_run: while the UART is closed QEMU holds the
# modem's bytes back (as a modem does when RTS/CTS flow control is on), and
# they arrive after the purge, sometimes all of them (seen: "K\r\n" of
# "\r\nOK\r\n" on standard output).
# Nor queued_output_not_echoed: QEMU's UART hands the queued bytes over
# only once the port is raw, so the row passed with the echo restored too.
UART_ROWS = ['worked_example', 'error_answer', 'ok_split_in_two_reads']


@dataclass
class GuestRow:
    scenario: Scenario
    setup: str = 'now'      # now | late | reset | frozen, as init.sh's `row` takes it
    repeat: int = 1         # runs, until one ends otherwise than the row expects
    control: Optional[str] = None  # how the gadget's function log starts (SET_CONTROL_LINE_STATE values)


# e2e rows that need the line set up first, and why.
# modem_reads_nothing: the link of a modem that reads nothing takes about
# 30 KB before it backs up (the gadget's and the tty's buffers): seen, its
# 30,004-byte command went out whole, and with no time limit the run then
# read on until the watchdog. The link is filled first, as for a frozen modem.
GUEST_SETUP = {'modem_reads_nothing': 'frozen'}
# A modem that reads nothing leaves the link stalled (seen: the gadget takes
# nothing more once its buffers are full): these rows run last, after the
# row that unplugs the gadget.
STALLS_THE_LINK = ['modem_reads_nothing', 'frozen_modem_short_command']


CSQ = b'\r\n+CSQ: 20,99\r\n'
LONG_LINE = b'\r\n' + b'x' * 65536 + b'\r\n\r\nOK\r\n'
GUEST_ONLY = [
    # The modem resets mid-answer: its port vanishes under the pending read.
    GuestRow(Scenario(
        'modem_reset_mid_answer', ['/port', '{port}', '/cmd', 'AT+CSQ', '/resp', '^OK$', '/timeout', '5000'], -1,
        script='expect AT+CSQ\n' + send(CSQ) + 'silence\n', answer=CSQ,
        traces=['read buffer[%d]' % len(CSQ), 'AtCommand() return -1\n'], elapsed=(0.9, 2.5)), setup='reset'),
    # Nobody on the modem's side: DSR is low and the write is held for its
    # 5 s, whatever the time limit says.
    GuestRow(Scenario(
        'dsr_low_holds_the_write', AT + ['/resp', 'OK', '/timeout', '1000'], -1, port='none',
        traces=['write less bytes to serial, required(4), ret(0)', 'AtCommand() return -1\n'],
        elapsed=(4.9, 6.5))),
    GuestRow(Scenario(
        'dsr_rising_during_the_write', AT + ['/resp', 'OK', '/timeout', '3000'], 1, received=b'AT\r\n',
        traces=['write at command succeeded.\n', 'AtCommand() return 1\n'], elapsed=(0.9, 3.0)), setup='late'),
    # Output the modem queued before the run comes in at the open; none of
    # it may go back to the modem. It follows other rows on its line, as a
    # real port has been opened before (what comes inside the very first
    # open() of a port whose driver starts with echo on is echoed before
    # any program can go raw: seen here).
    GuestRow(Scenario(
        'queued_output_not_echoed', AT + ['/resp', 'OK', '/timeout', '3000'], 1,
        modem_args=['--stale', '\\r\\n+CREG: 1\\r\\n' + 'x' * 80], received=b'AT\r\n',
        traces=['AtCommand() return 1\n'])),
    GuestRow(Scenario(
        'line_of_64_kib_then_ok', AT + ['/resp', '^OK$', '/timeout', '10000'], 1,
        script=answer_with(LONG_LINE), answer=LONG_LINE, elapsed=(0.0, 8.0))),
    # A frozen modem: its side open, raw, never read, the link already full
    # (`frozen`: a command of 100,000 bytes went nowhere first). The command
    # cannot go out: each run costs its 5 s write limit, and no closing wait.
    GuestRow(Scenario(
        'frozen_modem_short_command', AT + ['/resp', 'OK', '/timeout', '1000'], -1, script='deaf\n',
        traces=['write less bytes to serial, required(4), ret(0)', 'AtCommand() return -1\n'],
        elapsed=(4.8, 5.5)), setup='frozen', repeat=2),
    # 100 on the USB line and 100 on the UART, at the same time.
    GuestRow(Scenario(
        'repeated_runs', AT + ['/resp', '^OK$', '/timeout', '3000'], 1,
        traces=['AtCommand() return 1\n']), repeat=100),
]


ATI = ['/port', '{port}', '/cmd', 'ATI', '/resp', '^OK$', '/timeout', '3000']
ATI_ANSWER = b'ATI\r\r\nModemSim\r\nMS-100\r\nRevision: MS100_01.002\r\n\r\nOK\r\n'
# The usb_wwan drivers (qcserial, option), each line a gadget of gadgets.py,
# its rows in order. Where no input line is reported, DSR holds nothing.
USB_WWAN = [
    # qcserial reads no status endpoint; option sends an NCTRL interface no
    # control request. Three runs in a row, each far from the 5 s write limit.
    ('gobi', GuestRow(Scenario('ati_three_runs', ATI, 1, answer=ATI_ANSWER, received=b'ATI\r\n' * 3,
                               elapsed=(0.0, 1.5)), repeat=3)),
    ('nctrl', GuestRow(Scenario('ati_three_runs', ATI, 1, answer=ATI_ANSWER, received=b'ATI\r\n' * 3,
                                elapsed=(0.0, 1.5)), repeat=3)),
    # option's usual path: DTR and RTS raised at open (0x0003), no status endpoint.
    ('option', GuestRow(Scenario('dtr_and_rts_raised', AT + ['/resp', 'OK', '/timeout', '3000'], 1,
                                 received=b'AT\r\n', traces=['AtCommand() return 1\n']), control='0003\n')),
    # A status endpoint: DSR and DCD at open; DCD alone (DSR holds the
    # write for its limit, as on cdc_acm); DCD, and DSR 1 s later.
    ('status', GuestRow(Scenario('dsr_and_dcd_at_open', AT + ['/resp', 'OK', '/timeout', '3000'], 1,
                                 received=b'AT\r\n', traces=['AtCommand() return 1\n']))),
    ('dcd', GuestRow(Scenario(
        'dsr_low_holds_the_write', AT + ['/resp', 'OK', '/timeout', '1000'], -1, received=b'',
        traces=['write less bytes to serial, required(4), ret(0)', 'AtCommand() return -1\n'],
        elapsed=(4.9, 6.5)))),
    ('late', GuestRow(Scenario(
        'dsr_one_second_after_open', AT + ['/resp', 'OK', '/timeout', '3000'], 1, received=b'AT\r\n',
        traces=['write at command succeeded.\n', 'AtCommand() return 1\n'], elapsed=(0.9, 3.0)))),
    # A modem that stalls the DTR/RTS request: the settings fail at once
    # with the driver's error, and nothing is written.
    ('stall', GuestRow(Scenario(
        'control_request_stalled', AT + ['/resp', 'OK', '/timeout', '3000'], -1, received=b'',
        traces=['set COMM DCB failed, error: 32', 'AtCommand() return -1\n'], elapsed=(0.0, 1.0)))),
    # A frozen modem (its side open, never read, the link full): the run ends
    # at its write limit, with no closing wait.
    ('option', GuestRow(Scenario(
        'frozen_modem_short_command', AT + ['/resp', 'OK', '/timeout', '1000'], -1, script='deaf\n',
        traces=['write less bytes to serial, required(4), ret(0)', 'AtCommand() return -1\n'],
        elapsed=(4.8, 5.5)), setup='frozen')),
]


@dataclass
class ListRow:
    """`atcmd /list ...` run once, after the rows that run side by side and
    before the last ones, on the ACM and Gobi gadgets and the 8250s
    (init.sh's list_row)."""
    name: str
    args: List[str]
    result: int
    verdicts: List[Tuple[str, str]]  # (a listed line's pattern, its verdict)
    unlisted: List[str] = dataclasses.field(default_factory=list)  # patterns no line may match
    modems: List[Tuple[str, str]] = dataclasses.field(default_factory=list)  # (tty as list_row takes it, script)
    locked: str = '-'                # a port another atcmd holds
    traces: List[str] = dataclasses.field(default_factory=list)  # patterns the traces hold
    elapsed_max: float = 0.0         # seconds, on a guest under KVM; 0: not checked


ANSWERS_AT = 'expect AT\n' + send(b'AT\r\r\nOK\r\n')
SILENT = 'expect AT\nsilence\n'
UART = r'serial\S* \S+ port 0x[0-9A-F]+ irq \d+'
# The ACM gadget's functions have two interfaces each: ttyACM0 is on
# interface 0, ttyACM1 on 2, ttyACM2 on 4. Of the Gobi 1K's three
# interfaces, qcserial makes a port of the AT port's, interface 2, alone
# (seen on Debian 12's kernel).
LIST_ROWS = [
    ListRow('list.ports', ['/list'], 1, [
        (r'/dev/ttyACM0\t-\t[^\t]+\t1d6b:0104 if00 cdc_acm', '-'),
        (r'/dev/ttyACM1\t-\t[^\t]+\t1d6b:0104 if02 cdc_acm', '-'),
        (r'/dev/ttyACM2\t-\t[^\t]+\t1d6b:0104 if04 cdc_acm', '-'),
        (r'/dev/ttyUSB\d+\t-\t[^\t]+\t05c6:9212 if02 qcserial', '-'),
        (r'/dev/ttyS0\t-\t\S+\t' + UART, '-'),
        (r'/dev/ttyS1\t-\t\S+\t' + UART, '-'),
        (r'/dev/ttyS2\t-\t\S+\t' + UART, '-'),
    ], unlisted=[r'/dev/ttyS3\t', r'/dev/pts', r'/dev/ttyGS', r'/dev/tty\d']),
    # ttyACM0's modem answers, ttyACM1's says nothing, another atcmd holds
    # ttyACM2; the Gobi's AT port answers; ttyS1 and ttyS2, wired to each
    # other, hear each other's command and no answer; ttyS0 is the console.
    ListRow('list.probe', ['/list', '/cmd', 'AT', '/resp', 'OK', '/timeout', '1000'], 1, [
        (r'/dev/ttyACM0\t.*\t1d6b:0104 if00 cdc_acm$', '1'),
        (r'/dev/ttyACM1\t.*\t1d6b:0104 if02 cdc_acm$', '-2'),
        (r'/dev/ttyACM2\t.*\t1d6b:0104 if04 cdc_acm$', '-1'),
        (r'/dev/ttyUSB\d+\t.*\t05c6:9212 if02 qcserial$', '1'),
        (r'/dev/ttyS0\t', '-'),
        (r'/dev/ttyS[12]\t', '-2'),
    ], modems=[('/dev/ttyGS0', ANSWERS_AT), ('/dev/ttyGS1', SILENT), ('/dev/ttyGS2', SILENT),
               ('/dev/gobi.modem', ANSWERS_AT)],
        locked='/dev/ttyACM2',
        traces=[r'/dev/ttyACM0: SerialAtCommand\(\) return 1\n', r'/dev/ttyACM1: SerialAtCommand\(\) return -2\n',
                r'/dev/ttyACM2: port /dev/ttyACM2 is also open in \d+ \(atcmd\)\n', r'port list return 1\n'],
        elapsed_max=2.5),
]


def widened(scenario: Scenario) -> Scenario:
    """The scenario with its modem pause as WIDER_MARGIN sets it in the guest."""
    if scenario.name not in WIDER_MARGIN:
        return scenario
    old, new = WIDER_MARGIN[scenario.name]
    if old not in scenario.script:
        raise ValueError('%s: its script no longer has %r' % (scenario.name, old))
    return dataclasses.replace(scenario, script=scenario.script.replace(old, new))


def rows():
    """(test name, line, GuestRow or the reason it is skipped). The e2e rows
    share out between the two ACM lines, which run side by side; a row that
    unplugs the gadget runs on its own, last."""
    out, stalling = [], []
    for index, scenario in enumerate(scenarios.SCENARIOS):
        row = NOT_IN_GUEST.get(scenario.name, GuestRow(widened(scenario), setup=GUEST_SETUP.get(scenario.name, 'now')))
        if scenario.name in STALLS_THE_LINK:
            stalling.append(('acm.' + scenario.name, 'last', row))
            continue
        out.append(('acm.' + scenario.name, 'acm%d' % (index % 2), row))
        if scenario.name in UART_ROWS:
            out.append(('uart.' + scenario.name, 'uart', row))
    for row in GUEST_ONLY:
        name = row.scenario.name
        if name in STALLS_THE_LINK:
            stalling.append(('acm.' + name, 'last', row))
            continue
        if row.repeat > 1:  # on lines of their own, side by side
            out += [('acm.' + name, 'acm2', row), ('uart.' + name, 'uart', row)]
            continue
        out.append(('acm.' + name, 'last' if row.setup == 'reset' else 'acm%d' % (len(out) % 2), row))
        if name in UART_ROWS:
            out.append(('uart.' + name, 'uart', row))
    out += [('%s.%s' % (line, row.scenario.name), line, row) for line, row in USB_WWAN]
    return out + stalling + [(row.name, 'list', row) for row in LIST_ROWS]


def find(name: str):
    for test, line, row in rows():
        if test == name:
            return line, row
    raise KeyError(name)
