// The bounded writer on the stand-in's standard output, a pipe: what a
// reader gets, what is dropped, and when a finish gives up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

#include <string>
#include <vector>

#include "bounded_writer.h"
#include "fd_guard.h"
#include "redirected.h"

namespace {

using Loss = BoundedWriter::Loss;

// What reads the pipe once everything is handed over.
enum class Reader { Drains, Stalls, Gone };

struct Row {
    const char *name;
    Loss loss;
    Reader reader;
    DWORD limitMs;  // the finish's; 0: none
    DWORD stallMs;
    std::vector<std::string> puts;  // while the first text, which overfills the pipe, holds the writer
    std::string written;            // what follows the first text
    unsigned long long dropped;
};

const std::size_t kHeldLimit = 8;

// Every byte until the last writer of the pipe is gone.
std::string ReadAll(int fd)
{
    std::string all;
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
        all.append(buffer, static_cast<std::size_t>(got));
    return all;
}

// Waits until the pipe holds `count` bytes: the writer is then in its write.
bool Holds(int fd, int count)
{
    for (int tries = 0; tries < 10000; ++tries) {
        int held = 0;
        if (ioctl(fd, FIONREAD, &held) == 0 && held == count)
            return true;
        Sleep(1);
    }
    return false;
}

void Check(const Row &row)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0) << row.name;
    FdGuard reader(ends[0]), writer(ends[1]);
    int capacity = fcntl(writer.get(), F_GETPIPE_SZ);
    std::string first(static_cast<std::size_t>(capacity) + 1, 'A');
    std::string output;
    std::thread draining;
    bool held = true;
    unsigned long long dropped = 0;
    {
        // No assertion in here: its message would go to the pipe.
        Redirected redirected(STDOUT_FILENO, writer.get());
        BoundedWriter bounded(GetStdHandle(STD_OUTPUT_HANDLE), row.loss, kHeldLimit);
        if (row.reader == Reader::Gone)
            reader.Reset();
        bounded.Put(first.data(), first.size());
        held = row.reader == Reader::Gone || Holds(reader.get(), capacity);
        for (const std::string &put : row.puts)
            bounded.Put(put.data(), put.size());
        if (row.reader == Reader::Drains)
            draining = std::thread([&] { output = ReadAll(reader.get()); });
        dropped = bounded.Finish(Deadline(GetTickCount(), row.limitMs), row.stallMs);
        // The thread is done with standard output before it is put back: a
        // write given up fails once its reader is gone.
        if (row.reader == Reader::Stalls)
            reader.Reset();
        bounded.Finish(Deadline(GetTickCount(), 0), 0);
    }
    writer.Reset();  // the pipe's last writer: the drain ends
    if (draining.joinable())
        draining.join();
    EXPECT_TRUE(held) << row.name;
    EXPECT_EQ(dropped, row.dropped) << row.name;
    if (row.reader == Reader::Drains) {
        EXPECT_EQ(output, first + row.written) << row.name;
    }
}

// A writer's thread never ends, and the stand-in's other tests want none
// running: the rows run in a process of their own.
TEST(BoundedWriterDeathTest, DropsCutsAndGivesUp)
{
    const Row rows[] = {
        {"a stream is cut at the first bytes that find no room, never holed", Loss::CutStream, Reader::Drains, 0, 0,
         {"bbbb", "ccccc", "dd"}, "bbbb", 2},
        {"a text that finds no room is dropped alone, counted", Loss::DropText, Reader::Drains, 0, 0,
         {"bbbb", "ccccc", "dd"}, "bbbbdd", 1},
        {"a text whose write fails is dropped alone, counted", Loss::DropText, Reader::Gone, 0, 0, {"bb", "cc"}, "",
         3},
        {"a write held for the stall time is given up, with what waits", Loss::DropText, Reader::Stalls, 0, 50,
         {"bb", "cc"}, "", 3},
        {"the time limit ends the wait", Loss::CutStream, Reader::Stalls, 50, 0, {"bb"}, "", 2},
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
