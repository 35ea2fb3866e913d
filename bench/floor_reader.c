/* The floor of the flood benchmark: a minimal reader with atcmd's 127-byte
 * reads and nothing else. Opens the port raw, writes "AT\r\n", then reads
 * until the given number of bytes has come or the port is quiet for 2 s.
 * usage: floor_reader PORT BYTES */
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    struct termios settings;
    if (fd < 0 || tcgetattr(fd, &settings) != 0)
        return 1;
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
    if (write(fd, "AT\r\n", 4) != 4)
        return 1;
    long long wanted = atoll(argv[2]), got = 0;
    char buffer[127];
    while (got < wanted) {
        struct pollfd entry = {fd, POLLIN, 0};
        if (poll(&entry, 1, 2000) <= 0)
            return 1;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            got += n;
    }
    return 0;
}
