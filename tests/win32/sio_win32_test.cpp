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
    SioPort *port = SioOpen(path.c_str(), 115200, 3000);
    ASSERT_NE(port, nullptr) << SioErrStr();

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

// The line as the open leaves it, read back from the driver: the link's
// settings and the events, every other setting as the driver had it. Wine
// keeps no event character (GetCommState reports 0 whatever was set), so
// EvtChar shows only on Windows.
TEST(Win32Sio, OpenSetsTheLineAndKeepsTheRest)
{
    const char *com = std::getenv("MIRDEL_TEST_COM");
    ASSERT_TRUE(com && *com) << "MIRDEL_TEST_COM names no simulator port";
    std::string path = std::string("\\\\.\\") + com;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << WinLastErrStr();
    DCB was{}, d{};
    was.DCBlength = d.DCBlength = sizeof(DCB);
    ASSERT_TRUE(GetCommState(h, &was)) << WinLastErrStr();
    CloseHandle(h);

    SioPort *port = SioOpen(path.c_str(), 115200, 3000);
    ASSERT_NE(port, nullptr) << SioErrStr();
    h = (HANDLE)PlatSerialSystemHandle(port->device);
    DWORD mask = 0;
    ASSERT_TRUE(GetCommState(h, &d)) << WinLastErrStr();
    ASSERT_TRUE(GetCommMask(h, &mask)) << WinLastErrStr();
    SioClose(port);
    const struct {
        const char *what;
        DWORD got, want;
    } rows[] = {
        {"BaudRate", d.BaudRate, 115200},
        {"ByteSize", d.ByteSize, 8},
        {"Parity", d.Parity, NOPARITY},
        {"StopBits", d.StopBits, ONESTOPBIT},
        {"fOutxCtsFlow", d.fOutxCtsFlow, FALSE},
        {"fOutX", d.fOutX, FALSE},
        {"fInX", d.fInX, FALSE},
        {"event mask", mask, EV_RXCHAR | EV_RXFLAG},
        {"fBinary", d.fBinary, was.fBinary},
        {"fNull", d.fNull, was.fNull},
        {"XonChar", (BYTE)d.XonChar, (BYTE)was.XonChar},
        {"XoffChar", (BYTE)d.XoffChar, (BYTE)was.XoffChar},
        {"EofChar", (BYTE)d.EofChar, (BYTE)was.EofChar},
        {"ErrorChar", (BYTE)d.ErrorChar, (BYTE)was.ErrorChar},
    };
    for (const auto &r : rows)
        EXPECT_EQ(r.got, r.want) << r.what;
}

} // namespace
