// The serial port on the Win32 back end. The exchange runs against
// mirdel-sim behind the COM port named by MIRDEL_TEST_COM, started with
// "--fault handshake:2:silent" (scripts/test-windows does this).
#include <windows.h>

#include "platform/serial_device.h"
#include "support/winerr.h"
#include "serial/sio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

TEST(Win32Sio, OpenFailureNamesTheDevice)
{
    EXPECT_EQ(SioOpen("\\\\.\\COM219", 115200, 3000), nullptr);
    EXPECT_EQ(SioGetError(nullptr, 0), -1);
    EXPECT_EQ(std::string(SioErrStr()),
              std::string("\\\\.\\COM219: ") + WinErrStr(ERROR_FILE_NOT_FOUND));
    char small[8];
    SioGetError(small, sizeof small);
    EXPECT_STREQ(small, "\\\\.\\COM");
}

TEST(Win32Sio, ExchangeTimeOutAndReopen)
{
    const char *com = std::getenv("MIRDEL_TEST_COM");
    if (!com || !*com)
        GTEST_SKIP() << "MIRDEL_TEST_COM names no simulator port";
    std::string path = std::string("\\\\.\\") + com;
    DCB was{}, d{};
    was.DCBlength = d.DCBlength = sizeof(DCB);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_TRUE(GetCommState(h, &was) && CloseHandle(h)) << WinLastErrStr();
    SioPort *port = SioOpen(path.c_str(), 115200, 3000);
    ASSERT_NE(port, nullptr) << SioErrStr();

    // The line read back: the link's settings and events, the rest as the
    // driver had it. Wine keeps no event character (GetCommState gives 0
    // whatever was set): EvtChar shows on Windows only.
    DWORD mask = 0;
    h = (HANDLE)PlatSerialSystemHandle(port->device);
    ASSERT_TRUE(GetCommState(h, &d) && GetCommMask(h, &mask)) << WinLastErrStr();
    EXPECT_EQ(std::vector<long long>({d.BaudRate, d.ByteSize, d.Parity, d.StopBits, d.fOutxCtsFlow,
                                      d.fOutX, d.fInX, mask, d.fBinary, d.fNull, d.XonChar,
                                      d.XoffChar, d.EofChar}),
              std::vector<long long>({115200, 8, NOPARITY, ONESTOPBIT, FALSE, FALSE, FALSE,
                                      EV_RXCHAR | EV_RXFLAG, was.fBinary, was.fNull, was.XonChar,
                                      was.XoffChar, was.EofChar}));
    char none[4];
    EXPECT_EQ(SioRead(port, none, 0, 0), 0);
    EXPECT_EQ(SioMsgSend(port, ":DIAG:UPDATE", true, -2), 1) << SioErrStr();

    // The second handshake goes unanswered: the wait ends after its own
    // time-out, not the port's default, and the device is opened anew.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SioMsgSend(port, ":DIAG:UPDATE", true, 300), 0) << SioErrStr();
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
    EXPECT_GE(waited, 250);
    EXPECT_LT(waited, 3000);

    // The re-opened device carries the next exchange.
    EXPECT_EQ(SioMsgSend(port, ":DIAG:UPDATE", true, -2), 1) << SioErrStr();
    SioClose(port);
    EXPECT_EQ(SioWrite(port, "x", 1, 100), -1);
}

// The bytes left in the input queue: a wait issued after they came ends at
// once, and the next open drops them. (After the test above: the fourth
// handshake is answered.)
TEST(Win32Sio, QueuedBytesEndTheWaitAndGoAtTheOpen)
{
    const char *com = std::getenv("MIRDEL_TEST_COM");
    if (!com || !*com)
        GTEST_SKIP() << "MIRDEL_TEST_COM names no simulator port";
    std::string path = std::string("\\\\.\\") + com;
    auto queued = [](SioPort *port) {
        COMSTAT cs{};
        DWORD errors = 0;
        EXPECT_TRUE(ClearCommError((HANDLE)PlatSerialSystemHandle(port->device), &errors, &cs))
            << WinLastErrStr();
        return cs.cbInQue;
    };
    SioPort *port = SioOpen(path.c_str(), 115200, 3000);
    ASSERT_NE(port, nullptr) << SioErrStr();
    const char handshake[] = ":DIAG:UPDATE\n";
    ASSERT_EQ(SioWrite(port, handshake, sizeof handshake - 1, -2), (int)sizeof handshake - 1)
        << SioErrStr();
    for (int i = 0; i < 200 && queued(port) < 4; i++) // "+OK\n"
        Sleep(10);
    ASSERT_GE(queued(port), 4u);
    const char *call = nullptr;
    EXPECT_EQ(PlatSerialWait(port->device, PLAT_SERIAL_WAIT_READ, 1000, &call), 1);
    EXPECT_GE(queued(port), 4u); // the wait took nothing

    SioClose(port);
    port = SioOpen(path.c_str(), 115200, 3000);
    ASSERT_NE(port, nullptr) << SioErrStr();
    EXPECT_EQ(queued(port), 0u);
    char reply[16];
    EXPECT_EQ(SioRead(port, reply, sizeof reply, 300), 0);
    SioClose(port);
}

} // namespace
