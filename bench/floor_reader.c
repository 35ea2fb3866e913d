/* The floor of the benchmark: a minimal reader that does atcmd's job and
 * nothing more. Opens the port raw, writes "AT\r\n", then reads as atcmd's
 * port settings read: 127 bytes at most, a read ending 100 ms after its
 * last byte once one came, or after 500 ms with none. Every chunk goes to
 * standard output; a line "OK" ends the run with 0, 5 s of silence or a
 * failure with 1. Built static, the least a process can cost to start.
 * usage: floor_reader PORT */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

enum { kChunk = 127, kIntervalMs = 100, kFirstByteMs = 500, kQuietReads = 10 };

/* One read with the interval rule; returns the bytes read, -1 on failure.
 * Reads first and waits only for what has not come yet, as the stand-in
 * drives a read: a flood costs one read a chunk. */
static ssize_t ReadChunk(int fd, char *buffer)
{
    ssize_t got = 0;
    int wait = kFirstByteMs;
    while (got < kChunk) {
        ssize_t n = read(fd, buffer + got, kChunk - got);
        if (n > 0) {
            got += n;
            wait = kIntervalMs;
            continue;
        }
        if (n == 0 || errno != EAGAIN)
            return -1;
        struct pollfd entry = {fd, POLLIN, 0};
        int ready = poll(&entry, 1, wait);
        if (ready < 0)
            return -1;
        if (ready == 0)
            break;
    }
    return got;
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    struct termios settings;
    if (fd < 0 || tcgetattr(fd, &settings) != 0)
        return 1;
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
    if (write(fd, "AT\r\n", 4) != 4)
        return 1;
    /* The last bytes of the previous chunk, then this one: a line "OK"
     * may be cut by a read. */
    char window[3 + kChunk];
    size_t kept = 0;
    for (int quiet = 0; quiet < kQuietReads;) {
        ssize_t n = ReadChunk(fd, window + kept);
        if (n < 0)
            return 1;
        quiet = n == 0 ? quiet + 1 : 0;
        /* A closed output changes nothing. */
        ssize_t ignored = write(STDOUT_FILENO, window + kept, (size_t)n);
        (void)ignored;
        size_t length = kept + (size_t)n;
        if (memmem(window, length, "\nOK\r", 4) != NULL)
            return 0;
        kept = length < 3 ? length : 3;
        memmove(window, window + length - kept, kept);
    }
    return 1;
}
