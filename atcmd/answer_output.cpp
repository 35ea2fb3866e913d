#include "answer_output.h"

#include <algorithm>
#include <memory>

#include "bounded_writer.h"

namespace {

// Standard output as the first bytes find it. A file on disk takes every
// write at once, whoever reads it, so it is written in line; anything else
// (a pipe, a terminal) may stall and gets the one writer thread, which
// drops what it is given when no thread can be started for it. None without
// a standard output (a Windows program started with none). The answer may
// be lost, the verdict is not.
struct {
    bool looked = false;
    std::unique_ptr<BoundedWriter> writer;
} theOutput;

void LookAtOutput()
{
    theOutput.looked = true;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == NULL || output == INVALID_HANDLE_VALUE)
        return;
    BoundedWriter::Writing writing =
        GetFileType(output) == FILE_TYPE_DISK ? BoundedWriter::Writing::InLine : BoundedWriter::Writing::OwnThread;
    theOutput.writer =
        std::make_unique<BoundedWriter>(output, BoundedWriter::Loss::CutStream, kAnswerHeldLimit, writing);
}

}  // namespace

void WriteAnswer(const char *bytes, DWORD count)
{
    if (count == 0)
        return;
    if (!theOutput.looked)
        LookAtOutput();
    if (theOutput.writer != nullptr)
        theOutput.writer->Put(bytes, count);
}

void FinishAnswer(const Deadline &deadline)
{
    BoundedWriter *writer = theOutput.writer.get();
    if (writer == nullptr)
        return;
    DWORD now = GetTickCount();
    DWORD wait = deadline.Remaining(now);
    DWORD limit = wait == INFINITE ? 0 : std::max(wait, kAnswerGraceMs);  // 0: as long as the reader takes
    writer->Finish(Deadline(now, limit), 0);
}
