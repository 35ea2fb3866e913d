// The Win32 subset atcmd uses, declared for builds without <windows.h>:
// the contract behind which posix/ (the stand-in the Linux program ships
// with) and tests/fake/ (a scripted fake for the unit tests) stand as peers.
// Only what the program calls is here, with the meaning Windows gives it;
// posix/README.md maps it to POSIX. Error numbers from GetLastError are the
// platform's own, except the few Win32 codes the program compares against
// (defined below).
#pragma once

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned int UINT;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uintptr_t ULONG_PTR;
typedef void *HANDLE;
typedef void *PVOID;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef DWORD *LPDWORD;
typedef void *HMODULE;
typedef void (*FARPROC)();

#define TRUE 1
#define FALSE 0

// The C calling convention; the platform's only one here.
#define WINAPIV
#define WINAPI

#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define MAXDWORD 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define FILE_TYPE_UNKNOWN 0x0000u
#define FILE_TYPE_DISK 0x0001u
#define FILE_TYPE_CHAR 0x0002u
#define FILE_TYPE_PIPE 0x0003u

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_FLAG_OVERLAPPED 0x40000000u

#define WAIT_OBJECT_0 0x0u
#define WAIT_TIMEOUT 0x102u
#define WAIT_FAILED 0xFFFFFFFFu

// What Windows gives for a comm call on a handle that is no comm port: the
// device's driver refuses the serial request (STATUS_INVALID_DEVICE_REQUEST),
// which reaches the program as ERROR_INVALID_FUNCTION.
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u
#define ERROR_IO_INCOMPLETE 996u
#define ERROR_IO_PENDING 997u
#define ERROR_OPERATION_ABORTED 995u
#define ERROR_TIMEOUT 1460u

// OVERLAPPED.Internal of a request still in progress. Once complete it is
// 0 or the error GetOverlappedResult reports (an errno value, or
// ERROR_OPERATION_ABORTED after CancelIo).
#define STATUS_PENDING 0x103u

#define DTR_CONTROL_DISABLE 0u
#define DTR_CONTROL_ENABLE 1u
#define DTR_CONTROL_HANDSHAKE 2u
#define RTS_CONTROL_DISABLE 0u
#define RTS_CONTROL_ENABLE 1u
#define RTS_CONTROL_HANDSHAKE 2u
#define RTS_CONTROL_TOGGLE 3u

#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;      // completion status (0 = success)
    ULONG_PTR InternalHigh;  // bytes transferred
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u

typedef DWORD(WINAPI *LPTHREAD_START_ROUTINE)(LPVOID parameter);

// A lock one thread may take again while it holds it, as on Windows.
typedef struct _CRITICAL_SECTION {
    void *lock;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

typedef struct _COMSTAT {
    DWORD cbInQue;
    DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

// Files and serial ports
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE h);
BOOL GetCommState(HANDLE port, LPDCB dcb);
BOOL SetCommState(HANDLE port, LPDCB dcb);
BOOL SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);
BOOL ClearCommBreak(HANDLE port);
BOOL ClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT stat);
BOOL PurgeComm(HANDLE port, DWORD flags);

// Overlapped I/O
BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov);
BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov);
BOOL GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD done, BOOL wait);
BOOL CancelIo(HANDLE h);

// Events and waits
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);

// Threads and locks
HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, size_t stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId);
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// Standard output (a plain handle: WriteFile without OVERLAPPED)
HANDLE GetStdHandle(DWORD which);
// What a handle's file is: a file on disk, a character device (a terminal,
// a port, the null device), a pipe or socket.
DWORD GetFileType(HANDLE h);

// Time, errors, debug output
DWORD GetTickCount(void);
void Sleep(DWORD milliseconds);
[[noreturn]] void ExitProcess(UINT exitCode);
DWORD GetLastError(void);
void SetLastError(DWORD error);
void OutputDebugStringA(LPCSTR text);

// Modules and paths
DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size);
BOOL PathRemoveFileSpecA(LPSTR path);
BOOL PathAppendA(LPSTR path, LPCSTR more);
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
