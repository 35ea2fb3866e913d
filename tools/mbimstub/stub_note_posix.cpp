#include "stub_note.h"

#include <unistd.h>

#include <cstring>

// atcmd's debugger output on POSIX is its standard error.
void StubNote(const char *text)
{
    ssize_t ignored = write(STDERR_FILENO, text, strlen(text));
    (void)ignored;
}
