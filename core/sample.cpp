#include "core/sample.h"

#include <cerrno>
#include <cstdio>

#include "core/textfmt.h"
#include "support/err.h"

std::vector<MdlImageLayout> SampleLayout()
{
    return {
        {0x00000, "Boot loader", {{0x08000000, 16 * 1024}}},
        {0x10000, "Application", {{0x08010000, 192 * 1024}, {0x08048000, 64 * 1024}}},
        {0xD0000, "Calibration tables", {{0x00000000, 32 * 1024}}},
    };
}

std::string SampleFirmwareText()
{
    return "# Mirdel demo firmware: boot loader, application, calibration tables\n" +
           MdlFirmwareText(SampleLayout(), 32, 2024);
}

int SampleWriteFile(const char *path, std::string *message)
{
    std::string text = SampleFirmwareText();
    FILE *f = std::fopen(path, "w");
    if (!f) {
        *message = TextFormat("%s: %s", path, ErrnoStr(errno));
        return 0;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    int err = errno;
    if (std::fclose(f) != 0 && written) {
        written = false;
        err = errno;
    }
    if (!written) {
        *message = TextFormat("%s: %s", path, ErrnoStr(err));
        return 0;
    }
    return 1;
}
