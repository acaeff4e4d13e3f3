// Speed and memory of the firmware file analysis on a large file: 16 MiB of
// data in S3 records of 32 bytes. When srec_info is installed, it reads the
// same file for comparison.
//
// Usage: analysis [DATA_MIB]
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_usage.h"
#include "core/scan.h"
#include "firmware/mdl.h"

extern char **environ;

namespace {

void put_record(FILE *out, char type, const unsigned char *bytes, int n)
{
    static const char hex[] = "0123456789ABCDEF";
    char line[600];
    int pos = 0;
    line[pos++] = 'S';
    line[pos++] = type;
    unsigned sum = 0;
    auto put = [&](unsigned char b) {
        line[pos++] = hex[b >> 4];
        line[pos++] = hex[b & 15];
        sum += b;
    };
    put(static_cast<unsigned char>(n + 1));
    for (int i = 0; i < n; i++)
        put(bytes[i]);
    put(static_cast<unsigned char>(~sum & 0xFF));
    line[pos++] = '\n';
    std::fwrite(line, 1, static_cast<size_t>(pos), out);
}

// Address (4 bytes for S3/S7) followed by data.
void put_s3(FILE *out, uint32_t address, const unsigned char *data, int n)
{
    unsigned char bytes[4 + 255];
    bytes[0] = static_cast<unsigned char>(address >> 24);
    bytes[1] = static_cast<unsigned char>(address >> 16);
    bytes[2] = static_cast<unsigned char>(address >> 8);
    bytes[3] = static_cast<unsigned char>(address);
    std::memcpy(bytes + 4, data, static_cast<size_t>(n));
    put_record(out, '3', bytes, 4 + n);
}

bool generate(const char *path, uint32_t dataBytes)
{
    FILE *out = std::fopen(path, "wb");
    if (!out)
        return false;
    const char s0[] = "\0\0" "0x8000000 bench";
    put_record(out, '0', reinterpret_cast<const unsigned char *>(s0), sizeof s0 - 1);
    unsigned char data[32];
    uint32_t seed = 12345;
    for (uint32_t address = 0; address < dataBytes; address += 32) {
        for (unsigned char &b : data) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<unsigned char>(seed >> 16);
        }
        put_s3(out, address, data, 32);
    }
    const unsigned char s7[] = {0, 0, 0, 0};
    put_record(out, '7', s7, 4);
    return std::fclose(out) == 0;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peak_kib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool in_path(const char *program)
{
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// Wall time of one run of srec_info on path, its output discarded; < 0 on failure.
double time_srec_info(const char *path)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char program[] = "srec_info";
    std::string file = path;
    char *args[] = {program, file.data(), nullptr};
    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    int rc = posix_spawnp(&pid, program, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return seconds_since(start);
}

} // namespace

int main(int argc, char **argv)
{
    const char *usage = "usage: analysis [DATA_MIB (1..1024)]\n";
    if (int status = BenchUsage(argc, argv, usage, 64); status >= 0)
        return status;
    uint32_t mib = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 16;
    if (mib == 0 || mib > 1024) {
        std::fputs(usage, stderr);
        return 64;
    }
    uint32_t dataBytes = mib * 1024u * 1024u;

    char path[] = "/tmp/mirdel-bench-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        std::perror("mkstemp");
        return 1;
    }
    close(fd);
    if (!generate(path, dataBytes)) {
        std::perror(path);
        unlink(path);
        return 1;
    }
    FILE *probe = std::fopen(path, "rb");
    std::fseek(probe, 0, SEEK_END);
    double fileMB = static_cast<double>(std::ftell(probe)) / 1e6;
    std::fclose(probe);

    std::printf("file: %s, %.1f MB of text, %u MiB of data in S3 records of 32 bytes\n", path, fileMB, mib);
    long before = peak_kib();

    const int runs = 3;
    double best = 1e9;
    for (int i = 0; i < runs; i++) {
        Firmware firmware{};
        ScanFileInfo info;
        std::string message;
        auto start = std::chrono::steady_clock::now();
        int ok = ScanFirmwareFile(path, &firmware, &info, &message);
        double t = seconds_since(start);
        if (!ok || firmware.totalSize != dataBytes) {
            std::fprintf(stderr, "analysis failed: %s\n", message.c_str());
            MdlFirmwareRelease(&firmware);
            unlink(path);
            return 1;
        }
        MdlFirmwareRelease(&firmware);
        if (t < best)
            best = t;
    }
    long peak = peak_kib();
    std::printf("analysis:  best of %d runs %.3f s, %.0f MB/s\n", runs, best, fileMB / best);
    std::printf("memory:    peak RSS %ld KiB (%ld KiB before the analysis), %.2f x the data size\n", peak, before,
                static_cast<double>(peak) * 1024.0 / dataBytes);

    if (in_path("srec_info")) {
        double ref = 1e9;
        for (int i = 0; i < runs; i++) {
            double t = time_srec_info(path);
            if (t < 0) {
                std::fprintf(stderr, "srec_info failed\n");
                ref = -1;
                break;
            }
            if (t < ref)
                ref = t;
        }
        if (ref > 0)
            std::printf("srec_info: best of %d runs %.3f s, %.0f MB/s; analysis takes %.2f of its time\n", runs, ref,
                        fileMB / ref, best / ref);
    } else {
        std::printf("srec_info: not installed (Debian package srecord), no comparison\n");
    }
    unlink(path);
    return 0;
}
