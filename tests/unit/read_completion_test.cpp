#include "read_completion.h"

#include <gtest/gtest.h>

namespace {

struct CompletionCase {
    BOOL succeeded;
    DWORD lastError;
    DWORD bytes;
    ReadCompletion outcome;
};

TEST(ClassifyReadCompletion, WindowsAndWineSpellings)
{
    const CompletionCase cases[] = {
        {TRUE, 0, 5, ReadCompletion::Bytes},
        {TRUE, 0, 0, ReadCompletion::NoBytes},                      // Windows: timed out, nothing
        {FALSE, ERROR_TIMEOUT, 0, ReadCompletion::NoBytes},         // Wine: timed out, nothing
        {FALSE, ERROR_TIMEOUT, 3, ReadCompletion::Bytes},
        {FALSE, ERROR_OPERATION_ABORTED, 0, ReadCompletion::Cancelled},
        {FALSE, ERROR_OPERATION_ABORTED, 4, ReadCompletion::Cancelled},
        {FALSE, 5, 0, ReadCompletion::Failed},
        {FALSE, ERROR_IO_PENDING, 0, ReadCompletion::Failed},
    };
    for (const CompletionCase &c : cases)
        EXPECT_EQ(ClassifyReadCompletion(c.succeeded, c.lastError, c.bytes), c.outcome)
            << c.succeeded << " " << c.lastError << " " << c.bytes;
}

}  // namespace
