// Writes the demo's sample firmware: three images, 304 KiB of data in
// 32-byte S3 records.
//
//   sample-firmware FILE
#include <cstdio>

#include "bench/bench_usage.h"
#include "bench/upload_firmware.h"

int main(int argc, char **argv)
{
    const char *usage = "usage: sample-firmware FILE\n";
    if (int status = BenchUsage(argc, argv, usage, 2); status >= 0)
        return status;
    if (argc != 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::string text = "# Mirdel demo firmware: boot loader, application, calibration tables\n" +
                       UploadFirmwareText(UploadDemoLayout(), 32, 2024);
    if (!UploadWriteFile(argv[1], text)) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
