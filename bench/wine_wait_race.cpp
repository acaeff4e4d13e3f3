// Wine's WaitCommEvent on its own, without Mirdel's serial code: WAITS
// overlapped waits for EV_RXCHAR on a silent COM port, one after the
// other, each given 2 s. Counts how they ended; among them the waits whose
// event was set while their OVERLAPPED still read STATUS_PENDING, which
// is looked at again 500 ms later. On Windows every wait ends with its
// result. Built and run by scripts/soak-wine-waits wine (with mingw-w64:
// the Windows build has no benchmarks).
//
//   wine-wait-race.exe PORT WAITS
//
// Exit status: 0 when every wait ended with its result, 1 when some lost
// it or none ended within its 2 s, 2 when the port cannot be had.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "Usage: wine-wait-race.exe PORT WAITS\n");
        return 2;
    }
    const char *port = argv[1];
    long waits = std::strtol(argv[2], nullptr, 10);
    HANDLE h = CreateFileA(port, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE || !SetCommMask(h, EV_RXCHAR)) {
        std::fprintf(stderr, "%s: error %lu\n", port, GetLastError());
        return 2;
    }
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    long atOnce = 0, ended = 0, aborted = 0, lost = 0, lostLater = 0, failed = 0;
    for (long i = 0; i < waits; i++) {
        DWORD mask = 0, count = 0;
        ResetEvent(ov.hEvent);
        if (WaitCommEvent(h, &mask, &ov)) {
            atOnce++;
            continue;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            failed++;
            continue;
        }
        if (WaitForSingleObject(ov.hEvent, 2000) != WAIT_OBJECT_0) {
            std::printf("%s: wait %ld not ended within 2 s\n", port, i);
            failed++;
            break;
        }
        if (GetOverlappedResult(h, &ov, &count, FALSE)) {
            ended++;
        } else if (GetLastError() == ERROR_OPERATION_ABORTED) {
            aborted++; // Wine, on a device without modem status lines
        } else if (GetLastError() == ERROR_IO_INCOMPLETE) {
            lost++;
            Sleep(500);
            bool later =
                GetOverlappedResult(h, &ov, &count, FALSE) || GetLastError() != ERROR_IO_INCOMPLETE;
            lostLater += later;
            std::printf("%s: wait %ld: event set, Internal 0x%lX (STATUS_PENDING); "
                        "500 ms later %s\n",
                        port, i, (unsigned long)ov.Internal,
                        later ? "ended" : "STATUS_PENDING still");
            // Wine's wait is over all the same: the next one can be issued.
        } else {
            failed++;
        }
    }
    std::printf("%s: %ld waits: %ld ended at once, %ld ended, %ld aborted, %ld with the event "
                "set and STATUS_PENDING (%ld of them ended later), %ld failed\n",
                port, waits, atOnce, ended, aborted, lost, lostLater, failed);
    CloseHandle(ov.hEvent);
    CloseHandle(h);
    return lost > lostLater || failed ? 1 : 0;
}
