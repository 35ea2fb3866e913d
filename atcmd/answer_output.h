// The modem's answer on standard output, for scripts that want the text as
// well as the verdict. Where a reader could stall the writes (a pipe, a
// terminal) a writer thread of its own does the writing, so a reader that
// stops reading never holds the transaction: the same on every platform,
// since a redirected standard output takes only blocking writes. A file on
// disk is written in line.
#pragma once

#include "deadline.h"
#include "win32.h"

// Writes bytes to a file, or hands them to the writer, in order; never
// waits for a reader. Without a standard output, or a thread to write it,
// they go nowhere. While the reader does not read, the writer holds at most
// kAnswerHeldLimit bytes; what does not fit is dropped, and so is
// everything after it: the output is cut, never holed.
void WriteAnswer(const char *bytes, DWORD count);

// Gives the writer until the deadline, and at least kAnswerGraceMs, to
// write what it holds; without a limit, as long as the reader takes. What
// is still held then is dropped.
void FinishAnswer(const Deadline &deadline);

const DWORD kAnswerHeldLimit = 1024 * 1024;
const DWORD kAnswerGraceMs = 200;
