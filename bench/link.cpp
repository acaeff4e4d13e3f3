// Acknowledged line exchanges per second over a pseudo-terminal pair: the
// message link against the same exchange done with bare write, poll and
// read, in the same run and against the same peer.
//
//   link [exchanges per round]
#include "bench/bench_usage.h"
#include "serial/sio.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{

// Answers every line with "+OK" until it reads "QUIT".
void peer(int master)
{
    std::string line;
    char buf[4096];
    for (;;) {
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; i++) {
            if (buf[i] != '\n') {
                line += buf[i];
                continue;
            }
            if (line == "QUIT")
                return;
            line.clear();
            if (write(master, "+OK\n", 4) != 4)
                return;
        }
    }
}

bool bareExchange(int fd, const std::string &message)
{
    if (write(fd, message.data(), message.size()) != (ssize_t)message.size())
        return false;
    char ack[16];
    size_t got = 0;
    while (got == 0 || ack[got - 1] != '\n') {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 3000) != 1)
            return false;
        ssize_t n = read(fd, ack + got, sizeof ack - got);
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n <= 0)
            return false;
        got += (size_t)n;
    }
    return got == 4 && memcmp(ack, "+OK\n", 4) == 0;
}

double seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    const char *usage = "usage: link [exchanges per round]\n";
    if (int status = BenchUsage(argc, argv, usage, 2); status >= 0)
        return status;
    long count = argc > 1 ? strtol(argv[1], nullptr, 10) : 5000;
    if (count <= 0) {
        fputs(usage, stderr);
        return 2;
    }

    int master, slave;
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        perror("openpty");
        return 1;
    }
    SioPort *port = SioOpen(name, 115200, 3000);
    if (!port) {
        fprintf(stderr, "SioOpen: %s\n", SioErrStr());
        return 1;
    }
    // The bare side uses the pty's own slave descriptor, which SioOpen has
    // already set raw.
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    std::thread answering(peer, master);

    // A 79-character S3 record, as a firmware file holds them.
    std::string record =
        "S323000100000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";
    while (record.size() < 79)
        record += 'F';
    std::string bare = record + "\n";

    double linkTime = 0, bareTime = 0;
    const int rounds = 10; // interleaved, so that load from elsewhere hits both alike
    for (int round = 0; round < rounds; round++) {
        auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < count; i++) {
            if (SioMsgSend(port, record.c_str(), true, -2) != 1) {
                fprintf(stderr, "SioMsgSend: %s\n", SioErrStr());
                return 1;
            }
        }
        linkTime += seconds(start);

        start = std::chrono::steady_clock::now();
        for (long i = 0; i < count; i++) {
            if (!bareExchange(slave, bare)) {
                fprintf(stderr, "bare exchange failed\n");
                return 1;
            }
        }
        bareTime += seconds(start);
    }

    SioMsgSend(port, "QUIT", false, -2);
    answering.join();
    SioClose(port);
    close(slave);
    close(master);

    double total = (double)count * rounds;
    double linkRate = total / linkTime, bareRate = total / bareTime;
    printf("acknowledged %zu-char lines over a pty, %ld exchanges x %d rounds\n", record.size(),
           count, rounds);
    printf("  message link:        %10.0f exchanges/s\n", linkRate);
    printf("  bare write/poll/read: %9.0f exchanges/s\n", bareRate);
    printf("  link / bare:         %9.1f %%\n", 100.0 * linkRate / bareRate);
    return 0;
}
