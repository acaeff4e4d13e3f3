// Writes the demo's sample firmware (as mirdel-cli sample does): three
// images, 304 KiB of data in 32-byte S3 records.
//
//   sample-firmware FILE
#include <cstdio>

#include "core/sample.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sample-firmware FILE\n");
        return 2;
    }
    std::string message;
    if (!SampleWriteFile(argv[1], &message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 1;
    }
    return 0;
}
