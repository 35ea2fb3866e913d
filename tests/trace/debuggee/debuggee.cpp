// A program for the tests of atcmd-trace. Each argument is one step, done in
// order:
//   args          one debug text per argument: "arg[N]=<argument>\n"
//   text:S        S, then "\n", as one debug text
//   wide:S        S, then "\n", through OutputDebugStringW
//   out:S         S, then "\r\n", written to its standard output (as atcmd
//                 writes the modem's answer)
//   long:N        one text of N bytes: LongText(N), as the tests build it
//   count:N       N texts "text I\n", I = 1..N
//   raise         an exception that its own handler takes
//   catch         a C++ exception thrown and caught, with values held in
//                 callee-saved registers across it: "C++ exception caught,
//                 registers kept\n" when the unwinding put them all back,
//                 else "C++ exception caught, registers lost: rbx rbp\n"
//                 (those it did not)
//   crash         a write through a null pointer
//   exit:N        ends with exit code N (a signed number)
// Other arguments are only listed by `args`. Without exit: the exit code is 0.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

// Arguments as the runtime splits them, without wildcard expansion.
int _CRT_glob = 0;

namespace {

const DWORD kTestException = 0xE0000001;
volatile LONG handledExceptions = 0;

void Trace(const std::string &text)
{
    OutputDebugStringA(text.c_str());
}

// Digits and letters, then a line feed: position I holds
// "0123456789abcdefghijklmnopqrstuvwxyz"[I % 36].
std::string LongText(size_t length)
{
    static const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string text;
    for (size_t i = 0; i + 1 < length; ++i)
        text += kAlphabet[i % 36];
    if (length > 0)
        text += '\n';
    return text;
}

LONG CALLBACK TakeTestException(EXCEPTION_POINTERS *pointers)
{
    if (pointers->ExceptionRecord->ExceptionCode != kTestException)
        return EXCEPTION_CONTINUE_SEARCH;
    InterlockedIncrement(&handledExceptions);
    return EXCEPTION_CONTINUE_EXECUTION;
}

void Raise()
{
    PVOID handler = AddVectoredExceptionHandler(1, TakeTestException);
    LONG before = handledExceptions;
    RaiseException(kTestException, 0, 0, NULL);
    RemoveVectoredExceptionHandler(handler);
    Trace(handledExceptions > before ? "exception handled by the program\n"
                                     : "exception never reached the program\n");
}

__attribute__((noinline)) void Throw()
{
    throw std::runtime_error("thrown by the program");
}

// The callee-saved registers a catch must find as they were before the
// throw, the frame pointer register included.
#if defined(__x86_64__)
#define KEPT_INTEGERS(X) X(rbx) X(rbp) X(rsi) X(rdi) X(r12) X(r13) X(r14) X(r15)
#define KEPT_FLOATS(X) X(xmm6) X(xmm7) X(xmm8) X(xmm9) X(xmm10) X(xmm11) X(xmm12) X(xmm13) X(xmm14) X(xmm15)
#else
// ebp is the frame pointer of a function with a catch in the x86 build: it
// cannot hold a value, and a catch that lost it would not get this far.
#define KEPT_INTEGERS(X) X(ebx) X(esi) X(edi)
#define KEPT_FLOATS(X)
#endif

// A distinct value for each register, from its name.
uintptr_t Pattern(const char *name)
{
    uintptr_t value = 0x9e3779b9u;
    while (*name)
        value = value * 31 + static_cast<unsigned char>(*name++);
    return value;
}

#define DECLARE_INTEGER(r) register uintptr_t r asm(#r) = Pattern(#r);
#define DECLARE_FLOAT(r) register double r asm(#r) = static_cast<double>(Pattern(#r) >> 8);
#define HOLD_INTEGER(r) asm volatile("" : "+r"(r));
#define HOLD_FLOAT(r) asm volatile("" : "+x"(r));
#define NAME_LOST_INTEGER(r) lost += r != Pattern(#r) ? " " #r : "";
#define NAME_LOST_FLOAT(r) lost += r != static_cast<double>(Pattern(#r) >> 8) ? " " #r : "";

// The values are in their registers when Throw() is called and are read
// from them after the catch.
__attribute__((noinline)) void Catch()
{
    KEPT_INTEGERS(DECLARE_INTEGER)
    KEPT_FLOATS(DECLARE_FLOAT)
    KEPT_INTEGERS(HOLD_INTEGER)
    KEPT_FLOATS(HOLD_FLOAT)
    bool caught = false;
    try {
        Throw();
    } catch (const std::runtime_error &) {
        caught = true;
    }
    KEPT_INTEGERS(HOLD_INTEGER)
    KEPT_FLOATS(HOLD_FLOAT)
    std::string lost;
    KEPT_INTEGERS(NAME_LOST_INTEGER)
    KEPT_FLOATS(NAME_LOST_FLOAT)
    if (!caught)
        Trace("C++ exception not caught\n");
    else if (!lost.empty())
        Trace("C++ exception caught, registers lost:" + lost + "\n");
    else
        Trace("C++ exception caught, registers kept\n");
}

void Crash()
{
    volatile int *nowhere = NULL;
    *nowhere = 1;
}

bool Starts(const char *argument, const char *step, const char **value)
{
    size_t length = strlen(step);
    if (strncmp(argument, step, length) != 0)
        return false;
    *value = argument + length;
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const char *value = NULL;
        if (strcmp(argv[i], "args") == 0) {
            for (int a = 1; a < argc; ++a)
                Trace("arg[" + std::to_string(a) + "]=" + argv[a] + "\n");
        } else if (Starts(argv[i], "text:", &value)) {
            Trace(std::string(value) + "\n");
        } else if (Starts(argv[i], "wide:", &value)) {
            std::string text = std::string(value) + "\n";
            OutputDebugStringW(std::wstring(text.begin(), text.end()).c_str());
        } else if (Starts(argv[i], "out:", &value)) {
            std::string text = std::string(value) + "\r\n";
            DWORD written = 0;
            WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, NULL);
        } else if (Starts(argv[i], "long:", &value)) {
            Trace(LongText(strtoul(value, NULL, 10)));
        } else if (Starts(argv[i], "count:", &value)) {
            for (long n = 1, last = strtol(value, NULL, 10); n <= last; ++n)
                Trace("text " + std::to_string(n) + "\n");
        } else if (strcmp(argv[i], "raise") == 0) {
            Raise();
        } else if (strcmp(argv[i], "catch") == 0) {
            Catch();
        } else if (strcmp(argv[i], "crash") == 0) {
            Crash();
        } else if (Starts(argv[i], "exit:", &value)) {
            return static_cast<int>(strtol(value, NULL, 10));
        }
    }
    return 0;
}
