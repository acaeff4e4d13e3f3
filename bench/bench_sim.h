// What the upload benchmarks share: mirdel-sim started for one session
// without pacing or transcript and ended with SIGTERM, and their firmware
// file.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/upload_firmware.h"

#ifndef MIRDEL_BIN_DIR
#error "MIRDEL_BIN_DIR must name the build directory"
#endif

struct BenchSim {
    pid_t pid = -1;
    std::string path; // the device to open; empty when it did not start
};

inline BenchSim BenchStartSim()
{
    BenchSim sim;
    int out[2];
    if (pipe(out) != 0)
        return sim;
    sim.pid = fork();
    if (sim.pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::string bin = std::string(MIRDEL_BIN_DIR) + "/sim/mirdel-sim";
        execl(bin.c_str(), bin.c_str(), "--once", "--time-limit", "600", (char *)nullptr);
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
