// MbimPortAPI.dll, the MBIM port library, as atcmd relies on it. Any
// library that keeps this contract can stand in for the modem's own.
//
// Where it lies: a file named exactly MbimPortAPI.dll in the folder of the
// atcmd executable (the same name on Linux, where it is a shared object
// opened with dlopen). No other folder is searched. It is loaded for one
// transaction and unloaded after it.
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
//                                  returns 0 or the time limit passes.
//                                  `buf` holds 1024 bytes, zeroed; `len`
//                                  is 0 on entry. 0: an answer was
//                                  delivered (the program reads neither
//                                  buf nor len; any answer counts).
//                                  Anything else: no answer yet.
//   MBIM_DllClose(handle)          once, last, whenever the open succeeded,
//                                  also after a failed send. Its result is
//                                  not examined.
//
// The program bounds none of these calls: a call that blocks holds the run.
#pragma once

#if defined(_WIN32)
#define MBIM_API __declspec(dllexport)
#define MBIM_CALL __cdecl
#else
#define MBIM_API __attribute__((visibility("default")))
#define MBIM_CALL
#endif

extern "C" {
MBIM_API int MBIM_CALL MBIM_DllOpen(void **handle);
MBIM_API int MBIM_CALL MBIM_DllClose(void *handle);
MBIM_API int MBIM_CALL MBIMPort_Send(void *handle, const char *cmd, unsigned len);
MBIM_API int MBIM_CALL MBIMPort_GetResponse(void *handle, char *buf, unsigned *len);
}
