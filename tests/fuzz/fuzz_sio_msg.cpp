// The message link's receiving side against any bytes from the peer: line
// reading into buffers of every size, the acknowledgement of received
// lines, and the parsing of the acknowledgements that SioMsgSend waits for.
//
// Input: one byte of settings, one byte of buffer size, then the peer's
// bytes.
//   settings & 3: 0 receive, 1 receive and acknowledge, 2 send and wait
//                 for acknowledgements, 3 alternate sending and receiving
//   (settings >> 2) & 3: adds 256 bytes per step to the receive buffer
//   (settings >> 4) & 3: the message sent
//   settings >> 6: bytes per read: all, 1, 7 or 64
#include "fuzz_support.h"

#include <cstring>
#include <vector>

namespace
{

const uint32_t kPieces[] = {SIO_RX_BUFFER_SIZE, 1, 7, 64};
const char *const kMessages[] = {"S1130000285F245F2212226A000424290008237C2A", "MIRDEL", ".", ""};

// A received line is cut at its line feed and has no carriage return
// left in the text part; the error text is always terminated.
void CheckReceived(int r, const char *buffer, size_t size)
{
    FUZZ_CHECK(r >= -1 && r <= 1);
    FUZZ_CHECK(std::strlen(SioErrStr()) < 1024);
    if (r != 1)
        return;
    size_t len = std::strlen(buffer);
    FUZZ_CHECK(len < size);
    FUZZ_CHECK(std::memchr(buffer, '\n', len) == nullptr);
    FUZZ_CHECK(std::memchr(buffer, '\r', len) == nullptr);

    // SioMsgText works in place and hands back a part of the line.
    std::vector<char> copy(buffer, buffer + len + 1);
    char *shown = SioMsgText(copy.data());
    FUZZ_CHECK(shown >= copy.data() && shown <= copy.data() + len);
    FUZZ_CHECK(std::memchr(copy.data(), '\x01', len) == nullptr);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzQuietLog();
    FuzzLine::Get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int mode = data[0] & 3;
    const size_t bufferSize = 2 + data[1] + 256 * ((data[0] >> 2) & 3);
    const char *message = kMessages[(data[0] >> 4) & 3];
    FuzzLine &line = FuzzLine::Get();
    SioPort *port = line.Feed(data + 2, size - 2);
    FuzzLine::SetPieceSize(port, kPieces[data[0] >> 6]);

    // Exactly the size asked for, so that a byte written past it is seen.
    std::vector<char> buffer(bufferSize);
    // Every call takes at least one byte or ends in the time-out.
    for (size_t calls = 0; calls <= size; calls++) {
        int r;
        bool send = mode == 2 || (mode == 3 && (calls & 1));
        if (send) {
            r = SioMsgSend(port, message, true, 0);
            FUZZ_CHECK(r >= -1 && r <= 2);
            if (r == -1) {
                int code = SioGetError(nullptr, 0);
                FUZZ_CHECK(code == -1 || code == 1);
            }
        } else {
            r = SioMsgRecv(port, buffer.data(), buffer.size(), mode == 1, 0);
            CheckReceived(r, buffer.data(), buffer.size());
        }
        if (r == 0)
            break;
        line.Drain();
    }
    line.Drain();
    return 0;
}
