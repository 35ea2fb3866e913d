// A program for the tests of atcmd-trace. Each argument is one step, done in
// order:
//   args          one debug text per argument: "arg[N]=<argument>\n"
//   text:S        S, then "\n", as one debug text
//   wide:S        S, then "\n", through OutputDebugStringW
//   long:N        one text of N bytes: LongText(N), as the tests build it
//   count:N       N texts "text I\n", I = 1..N
//   raise         an exception that its own handler takes
//   crash         a write through a null pointer
//   exit:N        ends with exit code N (a signed number)
// Other arguments are only listed by `args`. Without exit: the exit code is 0.
#include <windows.h>

#include <cstdlib>
#include <cstring>
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
        } else if (Starts(argv[i], "long:", &value)) {
            Trace(LongText(strtoul(value, NULL, 10)));
        } else if (Starts(argv[i], "count:", &value)) {
            for (long n = 1, last = strtol(value, NULL, 10); n <= last; ++n)
                Trace("text " + std::to_string(n) + "\n");
        } else if (strcmp(argv[i], "raise") == 0) {
            Raise();
        } else if (strcmp(argv[i], "crash") == 0) {
            Crash();
        } else if (Starts(argv[i], "exit:", &value)) {
            return static_cast<int>(strtol(value, NULL, 10));
        }
    }
    return 0;
}
