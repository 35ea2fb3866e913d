// MbimPortAPI.dll, the MBIM port library, as atcmd relies on it: the one
// place its contract is written. Any library that keeps it can stand in
// for the modem's own (tools/mbimstub does, for the tests).
//
// Where it lies: a file named exactly MbimPortAPI.dll in the folder of the
// atcmd executable (the same name on Linux, where it is a shared object
// opened with dlopen). No other folder is searched, and nothing is loaded
// when the executable's or the library's path would not fit in 260
// characters. It is loaded for one transaction and unloaded after it. On
// Windows a 32-bit library needs the x86 program, a 64-bit one the x64.
//
// Binary interface: C linkage, the C calling convention (cdecl), export
// names undecorated; int and unsigned are 32 bits. A library that lacks
// any one of the four entry points is not used at all: nothing is opened.
//
// The calls, in the order the program makes them:
//
//   MBIM_DllOpen(&handle)          once, first. Negative: failure, and
//                                  nothing is closed. Zero or positive:
//                                  success, `handle` is filled in.
//   MBIMPort_Send(handle, cmd, len)
//                                  once. `cmd` holds `len` bytes, the AT
//                                  command without its "\r\n" ending
//                                  (len 0 when no command was given).
//                                  0: sent. Anything else: failure.
//   MBIMPort_GetResponse(handle, buf, &len)
//                                  repeatedly, 500 ms apart, until it
//                                  returns 0 or the time limit (/timeout,
//                                  0 for none) has passed when a call is
//                                  due. `buf` holds 1024 bytes, zeroed;
//                                  `len` is 0 on entry. 0: an answer was
//                                  delivered; any answer counts. The
//                                  program writes it to its standard
//                                  output: `len` bytes when the library
//                                  set 1 to 1024, else `buf` up to its
//                                  first NUL. Anything else: no answer yet.
//   MBIM_DllClose(handle)          once, last, whenever the open succeeded,
//                                  also after a failed send. Its result is
//                                  not examined.
//
// The program bounds none of these calls: a call that blocks holds the run.
#pragma once

// MBIM_API, MBIM_CALL: the platform's export and calling convention.
#include "mbim_linkage.h"

// The figures of the calls above.
const unsigned kMbimPollPauseMs = 500;          // between two MBIMPort_GetResponse
const unsigned kMbimResponseBufferSize = 1024;  // the buffer MBIMPort_GetResponse fills

extern "C" {
// The entry points' types, for the program that looks them up.
typedef int MBIM_CALL MbimDllOpenFunction(void **handle);
typedef int MBIM_CALL MbimDllCloseFunction(void *handle);
typedef int MBIM_CALL MbimPortSendFunction(void *handle, const char *cmd, unsigned len);
typedef int MBIM_CALL MbimPortGetResponseFunction(void *handle, char *buf, unsigned *len);

// What a library defines and exports.
MBIM_API MbimDllOpenFunction MBIM_DllOpen;
MBIM_API MbimDllCloseFunction MBIM_DllClose;
MBIM_API MbimPortSendFunction MBIMPort_Send;
MBIM_API MbimPortGetResponseFunction MBIMPort_GetResponse;
}
