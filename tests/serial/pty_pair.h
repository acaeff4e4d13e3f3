// A pseudo-terminal pair: the port under test opens the slave by its path,
// the test plays the peer on the master side.
#pragma once

#include "support/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <poll.h>
#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

struct PtyPair {
    int master = -1;
    int slave = -1; // held so that the pty lives on while the port re-opens
    std::string path;

    PtyPair()
    {
        char name[256];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~PtyPair()
    {
        closeMaster();
        close(slave);
    }
    void closeMaster()
    {
        if (master >= 0)
            close(master);
        master = -1;
    }
    void send(const std::string &bytes) const
    {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    }
    // What the port wrote, up to n bytes, waiting up to timeoutMs for each piece.
    std::string receive(size_t n = 1 << 20, int timeoutMs = 20) const
    {
        std::string got;
        char buf[4096];
        pollfd p = {master, POLLIN, 0};
        while (got.size() < n && poll(&p, 1, timeoutMs) > 0) {
            ssize_t r = read(master, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0)
                break;
            got.append(buf, (size_t)r);
        }
        return got;
    }
};

// Console-channel lines, caught through the log callback.
inline std::vector<std::string> ConsoleLines;

inline void StartCatchingConsole()
{
    ConsoleLines.clear();
    ASSERT_TRUE(LogOpen(
        nullptr, [](const char *line, bool) { ConsoleLines.push_back(line); }, nullptr, false));
}
