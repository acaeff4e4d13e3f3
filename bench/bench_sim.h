// What the upload benchmarks share: mirdel-sim started for one session
// without transcript (and without pacing unless asked) and ended with
// SIGTERM, and their firmware file.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/upload_firmware.h"

#ifndef MIRDEL_BIN_DIR
#error "MIRDEL_BIN_DIR must name the build directory"
#endif

struct BenchSim {
    pid_t pid = -1;
    std::string path; // the device to open; empty when it did not start
};

// extra: further options for mirdel-sim, such as its pacing.
inline BenchSim BenchStartSim(const std::vector<std::string> &extra = {})
{
    BenchSim sim;
    int out[2];
    if (pipe(out) != 0)
        return sim;
    // The arguments are made before the fork: the child only execs.
    std::string bin = std::string(MIRDEL_BIN_DIR) + "/sim/mirdel-sim";
    std::vector<std::string> args = {bin, "--once", "--time-limit", "600"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    sim.pid = fork();
    if (sim.pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    char c;
    pollfd p = {out[0], POLLIN, 0};
    while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n')
        sim.path += c;
    close(out[0]);
    return sim;
}

inline void BenchStopSim(BenchSim &sim)
{
    if (sim.pid > 0) {
        kill(sim.pid, SIGTERM);
        waitpid(sim.pid, nullptr, 0);
        sim.pid = -1;
    }
}

// The benchmarks' firmware: one image of size bytes in S3 records of
// recordBytes, written to a new file under /tmp. Returns its path, or empty
// text after saying why on stderr.
inline std::string BenchWriteFirmware(uint32_t size, unsigned recordBytes, unsigned long *records)
{
    char path[] = "/tmp/mirdel-bench-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        std::perror("mkstemp");
        return std::string();
    }
    close(fd);
    std::string text = UploadFirmwareText({{0, "Bench", {{0, size}}}}, recordBytes, 7, records);
    if (!UploadWriteFile(path, text)) {
        std::perror(path);
        std::remove(path);
        return std::string();
    }
    return path;
}
