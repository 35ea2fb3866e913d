// The bounded writer on the stand-in's standard output, a pipe: what its
// reader gets, what is dropped, and when a finish gives up; by its thread,
// or in line.
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <thread>

#include "bounded_writer.h"
#include "redirected.h"

namespace {

using Loss = BoundedWriter::Loss;
using Writing = BoundedWriter::Writing;
enum class Reader { Drains, Stalls, Gone };

struct Row {
    const char *name;
    Loss loss;
    Reader reader;
    DWORD limitMs, stallMs;  // the finish's; limit 0: none
    std::string written;     // of "bbbb", "ccccc", "dd", handed over while a first text holds the writer
    unsigned long long dropped;
    Writing writing = Writing::OwnThread;
};

// True once the pipe holds `count` bytes: the writer is then in its write.
bool Holds(int fd, int count)
{
    for (int tries = 0, held = 0; tries < 10000; ++tries, Sleep(1))
        if (ioctl(fd, FIONREAD, &held) == 0 && held == count)
            return true;
    return false;
}

void Check(const Row &row)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    FdGuard reader(ends[0]), writer(ends[1]);
    int capacity = fcntl(writer.get(), F_GETPIPE_SZ);
    std::string first(static_cast<std::size_t>(capacity) + 1, 'A'), output;
    std::thread draining;
    bool held = true;
    unsigned long long dropped = 0;
    {
        // No assertion in here: its message would go to the pipe.
        Redirected redirected(STDOUT_FILENO, writer.get());
        BoundedWriter bounded(GetStdHandle(STD_OUTPUT_HANDLE), row.loss, 8, row.writing);
        if (row.reader == Reader::Gone)
            reader.Reset();
        bounded.Put(first.data(), first.size());
        held = row.reader == Reader::Gone || Holds(reader.get(), capacity);
        for (const char *text : {"bbbb", "ccccc", "dd"})
            bounded.Put(text, strlen(text));
        if (row.reader == Reader::Drains)
            draining = std::thread([&] {
                char buffer[4096];
                for (ssize_t got; (got = read(reader.get(), buffer, sizeof buffer)) > 0;)
                    output.append(buffer, static_cast<std::size_t>(got));
            });
        dropped = bounded.Finish(Deadline(GetTickCount(), row.limitMs), row.stallMs);
        // Standard output is put back once the thread is done with it: a
        // write given up fails when its reader is gone.
        if (row.reader == Reader::Stalls)
            reader.Reset();
        bounded.Finish(Deadline(GetTickCount(), 0), 0);
    }
    writer.Reset();  // the pipe's last writer: the drain ends
    if (draining.joinable())
        draining.join();
    EXPECT_TRUE(held) << row.name;
    EXPECT_EQ(dropped, row.dropped) << row.name;
    EXPECT_EQ(output, row.reader == Reader::Drains ? first + row.written : "") << row.name;
}

// A writer's thread never ends, and the stand-in's other tests want none
// running: the rows run in a process of their own.
TEST(BoundedWriterDeathTest, DropsCutsAndGivesUp)
{
    const Row rows[] = {
        {"a stream is cut where bytes find no room, never holed", Loss::CutStream, Reader::Drains, 0, 0, "bbbb", 2},
        {"a text that finds no room is dropped alone, counted", Loss::DropText, Reader::Drains, 0, 0, "bbbbdd", 1},
        {"a text whose write fails is dropped alone, counted", Loss::DropText, Reader::Gone, 0, 0, "", 4},
        {"a write held for the stall time is given up, with what waits", Loss::DropText, Reader::Stalls, 0, 50, "", 4},
        {"the time limit ends the wait", Loss::CutStream, Reader::Stalls, 50, 0, "", 4},
        {"in line, what a failed write loses is counted", Loss::CutStream, Reader::Gone, 0, 0, "", 4, Writing::InLine},
    };
    EXPECT_EXIT(
        {
            for (const Row &row : rows)
                Check(row);
            exit(testing::Test::HasFailure() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
