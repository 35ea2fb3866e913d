"""The guest's USB gadgets, one per emulated controller (`dummy_hcd num=N`),
all plugged in at the one boot: init.sh's `gadget` makes each, in order.

A gadget's rows run on the line named after it: the program's port is
/dev/NAME.port (the host's tty of interface `interface`), the modem's side
/dev/NAME.modem (that of function number `interface`: a `gser` function's
/dev/ttyGS*, or the pty of tests/guest/usb_function.c for `ffs`, whose
`behaviour` is what that function does: usb_function's BEHAVIOUR).
"""

from dataclasses import dataclass
from typing import List, Optional


@dataclass
class Gadget:
    name: str
    vendor: int
    product: int
    functions: List[str]        # acm | gser | ffs, in the configuration's order
    interface: Optional[int]    # the AT port's; None: the rows name the ports themselves
    behaviour: str = '-'        # usb_function's BEHAVIOUR, for an ffs function


# Option's first ID, flagged for nothing: its interface 0 gets the control
# requests, `option`'s usual path.
OPTION = (0x0af0, 0x5000)
GADGETS = [
    # cdc_acm: /dev/ttyACM0 to 2 and /dev/ttyGS0 to 2 (guest_rows' acm lines).
    Gadget('acm', 0x1d6b, 0x0104, ['acm', 'acm', 'acm'], None),
    # qcserial, Gobi 1K: three vendor-specific bulk interfaces, the AT port
    # on interface 2.
    Gadget('gobi', 0x05c6, 0x9212, ['gser', 'gser', 'gser'], 2),
    # option on an interface it sends no control request to (NCTRL(0)).
    Gadget('nctrl', 0x1bc7, 0x1200, ['gser'], 0),
    Gadget('option', *OPTION, ['ffs'], 0, 'accept'),
    Gadget('stall', *OPTION, ['ffs'], 0, 'stall'),
    # With a status endpoint: DCD and DSR at open; DCD alone; DCD, and DSR
    # 1 s later.
    Gadget('status', *OPTION, ['ffs'], 0, 'accept,status,3@0'),
    Gadget('dcd', *OPTION, ['ffs'], 0, 'accept,status,1@0'),
    Gadget('late', *OPTION, ['ffs'], 0, 'accept,status,1@0,3@1000'),
]


def script() -> str:
    """init.sh's calls, one per gadget: gadget INDEX NAME VENDOR PRODUCT INTERFACE BEHAVIOUR FUNCTION..."""
    return ''.join('gadget %d %s 0x%04x 0x%04x %s %s %s\n'
                   % (index, g.name, g.vendor, g.product, '-' if g.interface is None else g.interface,
                      g.behaviour, ' '.join(g.functions))
                   for index, g in enumerate(GADGETS))


def lines() -> dict:
    """Each gadget's line, as run_guest's LINES has them: (program port, modem's side)."""
    return {g.name: ('/dev/%s.port' % g.name, '/dev/%s.modem' % g.name) for g in GADGETS if g.interface is not None}
