// OtherPortHolders on Windows: a COM port refuses a second opener, so while
// the program has it, nobody else does; and a busy open names no holder, as
// Windows keeps no account of who opened a device that a user can read.
#include "system_ports.h"

DWORD OtherPortHolders(LPCSTR, PortHolder *, DWORD)
{
    return 0;
}
