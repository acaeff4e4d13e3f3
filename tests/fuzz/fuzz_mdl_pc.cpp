// The host side of the update protocol against any sequence of lines from
// the instrument: the read-back stream into memory or a file, the
// acknowledgements of an upload and the flash-writing indications after it,
// and whole exchanges with their handshake and job line. The instrument's
// end says only what the input holds; the host's answers are dropped.
//
// Input: one byte of settings, one byte of length, one byte of line
// settings, then the lines.
//   settings & 7: 0 read-back into a memory area of exactly the length,
//                 1 into a text file, 2 into a binary file, 3 upload of a
//                 small file (length % 3 picks it) and flash writing,
//                 4 MdlUpdate read-back into the memory area, 5 MdlUpdate
//                 finish, 6 MdlUpdate upload of the small file by name,
//                 7 as 0
//   (settings >> 3) & 3: adds 256 bytes per step to the length
//   settings >> 5: the progress callback asks to stop at this event
//                  (0: never)
//   line settings & 3: bytes per read: all, 1, 7 or 64
#include "fuzz_support.h"

#include "firmware/mdl.h"
#include "protocol/mdl_pc.h"

#include <cstring>
#include <sys/mman.h>
#include <vector>

namespace
{

// An empty one, one record, and a whole image with a comment.
const char *const kFiles[] = {
    "# nothing to send\n",
    "S1130000000102030405060708090A0B0C0D0E0F74\n",
    ("# image\nS00E0000307831303030302041707017\nS1130000000102030405060708090A0B0C0D0E0F74\n"
     "S1130010101112131415161718191A1B1C1D1E1F64\nS9030000FC\n"),
};

const uint32_t kPieces[] = {SIO_RX_BUFFER_SIZE, 1, 7, 64};

int g_fileFds[3];
char g_filePaths[3][64];
FILE *g_sink;

struct Progress {
    int stopAt;    // 0: never
    int asked = 0; // events whose answer is read
    uint64_t verifyBytes = 0;
    int64_t area = -1; // bytes the memory area holds, -1 without one
};

bool OnProgress(int event, void *context, uint32_t a, uint32_t b, const char *line)
{
    (void)a;
    Progress *p = static_cast<Progress *>(context);
    FUZZ_CHECK(event >= EV_UPLOAD_START && event <= EV_UPDATE_BUSY);
    if (event == EV_UPLOAD_PROGRESS)
        FUZZ_CHECK(line != nullptr && b > 0);
    if (event == EV_VERIFY_PROGRESS) {
        // One S3 record holds at most 250 data bytes, and the instrument
        // may not fill the area beyond its length.
        FUZZ_CHECK(line != nullptr && line[0] == 'S' && b > 0 && b <= 250);
        p->verifyBytes += b;
        if (p->area >= 0)
            FUZZ_CHECK(p->verifyBytes <= static_cast<uint64_t>(p->area));
    }
    if (event != EV_UPLOAD_PROGRESS && event != EV_VERIFY_PROGRESS && event != EV_VERIFY_RETRY &&
        event != EV_SEND_RETRY && event != EV_UPDATE_BUSY)
        return true;
    return p->stopAt == 0 || ++p->asked < p->stopAt;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzQuietLog();
    FuzzLine::Get();
    MdlSetTimings(0, 0);
    for (int i = 0; i < 3; i++) {
        g_fileFds[i] = memfd_create("fuzz_mdl_pc.srec", 0);
        FUZZ_CHECK(g_fileFds[i] >= 0);
        size_t n = std::strlen(kFiles[i]);
        FUZZ_CHECK(write(g_fileFds[i], kFiles[i], n) == static_cast<ssize_t>(n));
        snprintf(g_filePaths[i], sizeof g_filePaths[i], "/proc/self/fd/%d", g_fileFds[i]);
    }
    g_sink = std::fopen("/dev/null", "w");
    FUZZ_CHECK(g_sink != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const int mode = data[0] & 7;
    const int32_t length = data[1] + 256 * ((data[0] >> 3) & 3);
    const int file = data[1] % 3;
    Progress progress;
    progress.stopAt = data[0] >> 5;

    FuzzLine &line = FuzzLine::Get();
    SioPort *port = line.Feed(data + 3, size - 3);
    FuzzLine::SetPieceSize(port, kPieces[data[2] & 3]);
    MdlSetError(0, "%s", "");

    // Exactly the length, so that a byte stored past it is seen; the
    // exchange by name needs a first byte of 0 even for a length of 0.
    std::vector<uint8_t> area(length > 0 ? static_cast<size_t>(length) : 1, 0);
    int r;
    switch (mode) {
    case 1:
    case 2:
        r = MdlReceiveFlash(port, OnProgress, &progress, g_sink, nullptr, mode == 2, length);
        break;
    case 3: {
        FILE *f = fopen(g_filePaths[file], "r");
        FUZZ_CHECK(f != nullptr);
        r = MdlSendFile(port, OnProgress, &progress, f);
        fclose(f);
        break;
    }
    case 4:
        progress.area = length;
        r = MdlUpdate(port, MDL_MODE_READBACK, OnProgress, &progress,
                      reinterpret_cast<const char *>(area.data()), false, 0x1000, length);
        break;
    case 5:
        r = MdlUpdate(port, MDL_MODE_FINISH, OnProgress, &progress);
        break;
    case 6:
        r = MdlUpdate(port, MDL_MODE_UPLOAD, OnProgress, &progress, g_filePaths[file]);
        break;
    default:
        progress.area = length;
        r = MdlReceiveFlash(port, OnProgress, &progress, nullptr, area.data(), false, length);
        break;
    }

    FUZZ_CHECK(r >= -1 && r <= 1);
    int code = MdlGetError();
    if (r == -1)
        FUZZ_CHECK(code == MDL_ERR_LOCAL || code == MDL_ERR_INSTRUMENT);
    else
        FUZZ_CHECK(code == 0); // a time-out leaves the error state alone
    FUZZ_CHECK(std::strlen(MdlErrorText()) < MDL_ERROR_TEXT_SIZE);
    line.Drain();
    return 0;
}
