#include "answer_output.h"

#include <algorithm>
#include <memory>

#include "bounded_writer.h"

namespace {

// The one writer, made with the first bytes; none without a standard output
// (a Windows program started with none). When no thread can be started for
// it, it drops what it is given: the answer is then lost, the verdict is
// not.
struct {
    bool looked = false;
    std::unique_ptr<BoundedWriter> writer;
} theAnswer;

BoundedWriter *StartedWriter()
{
    if (!theAnswer.looked) {
        theAnswer.looked = true;
        HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        if (output != NULL && output != INVALID_HANDLE_VALUE)
            theAnswer.writer =
                std::make_unique<BoundedWriter>(output, BoundedWriter::Loss::CutStream, kAnswerHeldLimit);
    }
    return theAnswer.writer.get();
}

}  // namespace

void WriteAnswer(const char *bytes, DWORD count)
{
    if (count == 0)
        return;
    if (BoundedWriter *writer = StartedWriter())
        writer->Put(bytes, count);
}

void FinishAnswer(const Deadline &deadline)
{
    BoundedWriter *writer = theAnswer.writer.get();
    if (writer == nullptr)
        return;
    DWORD now = GetTickCount();
    DWORD wait = deadline.Remaining(now);
    DWORD limit = wait == INFINITE ? 0 : std::max(wait, kAnswerGraceMs);  // 0: as long as the reader takes
    writer->Finish(Deadline(now, limit), 0);
}
