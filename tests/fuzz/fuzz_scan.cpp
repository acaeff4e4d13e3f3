// The firmware file analysis against any bytes as a file: line reading,
// checksums, the record decoder and the growth of the model, then what the
// upload dialog does with a model it accepted (the advanced information
// texts and the checks before a run).
#include "fuzz_support.h"

#include "core/advinfo.h"
#include "core/run.h"
#include "core/scan.h"
#include "firmware/mdl.h"

#include <cstring>
#include <string>
#include <sys/mman.h>

namespace
{

int g_fd = -1;
char g_path[64];

struct Progress {
    int last = 0;
};

void OnProgress(void *context, int percent)
{
    Progress *p = static_cast<Progress *>(context);
    FUZZ_CHECK(percent > p->last && percent <= 100);
    p->last = percent;
}

// The model adds up: every segment within its buffer, the total the sum of
// all segments, the cursor inside the model or null.
void CheckModel(const Firmware &fw)
{
    FUZZ_CHECK(fw.imageCount >= 0);
    FUZZ_CHECK(fw.imageCount == 0 || fw.images != nullptr);
    uint64_t total = 0;
    for (int32_t i = 0; i < fw.imageCount; i++) {
        const FirmwareImage &image = fw.images[i];
        FUZZ_CHECK(image.segmentCount >= 0);
        FUZZ_CHECK(image.segmentCount == 0 || image.segments != nullptr);
        FUZZ_CHECK(std::memchr(image.name, '\0', sizeof image.name) != nullptr);
        for (int32_t s = 0; s < image.segmentCount; s++) {
            const FirmwareSegment &seg = image.segments[s];
            FUZZ_CHECK(seg.size <= seg.capacity);
            FUZZ_CHECK(seg.size == 0 || seg.data != nullptr);
            total += seg.size;
        }
    }
    FUZZ_CHECK(total == fw.totalSize);
    if (fw.currentImage)
        FUZZ_CHECK(fw.currentImage >= fw.images && fw.currentImage < fw.images + fw.imageCount);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzQuietLog();
    // A file in memory, opened by name as the analysis does.
    g_fd = memfd_create("fuzz_scan.srec", 0);
    FUZZ_CHECK(g_fd >= 0);
    snprintf(g_path, sizeof g_path, "/proc/self/fd/%d", g_fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FUZZ_CHECK(ftruncate(g_fd, 0) == 0);
    FUZZ_CHECK(pwrite(g_fd, data, size, 0) == static_cast<ssize_t>(size));

    Firmware fw{};
    ScanFileInfo info;
    std::string message;
    Progress progress;
    int r = ScanFirmwareFile(g_path, &fw, &info, &message, OnProgress, &progress);
    FUZZ_CHECK(r == 0 || r == 1);
    FUZZ_CHECK(info.fileSize == size);
    CheckModel(fw);
    if (r == 1) {
        FUZZ_CHECK(message.empty());
        AdvInfoTexts texts;
        AdvInfoCompose(fw, &texts);
        FUZZ_CHECK(texts.images.size() == static_cast<size_t>(fw.imageCount));
        std::string overlap;
        if (RunCheckOverlap(fw, overlap))
            FUZZ_CHECK(overlap.empty());
        else
            FUZZ_CHECK(!overlap.empty());
        RunExceedsFlash(fw);
    } else {
        FUZZ_CHECK(!message.empty());
        ScanReportError(message);
    }

    MdlFirmwareRelease(&fw);
    FUZZ_CHECK(fw.images == nullptr && fw.imageCount == 0 && fw.totalSize == 0);
    return 0;
}
