// Writes the demo's sample firmware (as mirdel-cli sample does): three
// images, 304 KiB of data in 32-byte S3 records.
//
//   sample-firmware FILE
#include <cstdio>

#include "bench/bench_usage.h"
#include "core/sample.h"

int main(int argc, char **argv)
{
    const char *usage = "usage: sample-firmware FILE\n";
    if (int status = BenchUsage(argc, argv, usage, 2); status >= 0)
        return status;
    if (argc != 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::string message;
    if (!SampleWriteFile(argv[1], &message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 1;
    }
    return 0;
}
