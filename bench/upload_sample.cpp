// Writes the demo's sample firmware: three images, 304 KiB of data in
// 32-byte S3 records.
//
//   sample-firmware FILE
#include <cstdio>

#include "bench/upload_firmware.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sample-firmware FILE\n");
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
