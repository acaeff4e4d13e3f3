// The Win32 back ends of the platform layer: system error texts, the
// locale, the serial port list from the registry and file times.
#include <windows.h>

#include "core/startup.h"
#include "platform/console.h"
#include "platform/filestat.h"
#include "platform/process.h"
#include "platform/locale.h"
#include "platform/port_access.h"
#include "platform/ports.h"
#include "platform/syserr.h"
#include "support/winerr.h"
#include "support/intstr.h"
#include "support/log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

namespace
{

std::vector<std::string> g_logged;

void capture(const char *line, bool)
{
    g_logged.push_back(line);
}

// This program run again as the stop test's child: it ends with 1 on the
// stop, with 3 when none came within 30 s, before any test runs.
const bool g_stop_child = [] {
    if (GetEnvironmentVariableA("MIRDEL_TEST_STOP_CHILD", nullptr, 0) == 0)
        return false;
    PlatWatchStopInput([] { ExitProcess(1); });
    Sleep(30000);
    ExitProcess(3);
}();

bool EndsWith(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(Win32SysErr, MessagesAreOneLineWithTheName)
{
    for (unsigned long code :
         {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_SEM_TIMEOUT, ERROR_OPERATION_ABORTED}) {
        std::string text = WinErrStr(code);
        std::string name = WinErrName(code);
        SCOPED_TRACE(text);
        ASSERT_TRUE(EndsWith(text, " <" + name + ">"));
        std::string message = text.substr(0, text.size() - name.size() - 3);
        EXPECT_FALSE(message.empty());
        EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos);
        // The ". " that closes a one-line system message gives way to the name.
        EXPECT_FALSE(EndsWith(message, ". ")) << message;
        EXPECT_NE(message.back(), ' ');
    }

    // The system's last error is the thread's own.
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(PlatGetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_NE(std::string(WinLastErrStr()).find("<ERROR_ACCESS_DENIED>"), std::string::npos);
    PlatSetLastError(ERROR_GEN_FAILURE);
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
}

TEST(Win32SysErr, ErrnoValuesBecomeSystemCodes)
{
    EXPECT_EQ(PlatSetLastErrorFromErrno(EBUSY), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(PlatSetLastErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(PlatErrnoToCode(EINVAL), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PlatErrnoToCode(12345), ERROR_GEN_FAILURE);

    char buf[64];
    PlatErrnoMessage(ENOENT, buf, sizeof buf);
    EXPECT_STREQ(buf, strerror(ENOENT));
    char tiny[4];
    PlatErrnoMessage(ENOENT, tiny, sizeof tiny);
    EXPECT_EQ(std::string(tiny), std::string(strerror(ENOENT)).substr(0, 3));
}

TEST(Win32SysErr, CodeWithoutTextGivesBareNameAndOneLogLine)
{
    ASSERT_TRUE(LogOpen(nullptr, capture, nullptr, false));
    g_logged.clear();
    // Codes with the customer bit have no system text.
    const unsigned long code = 0x2000ABCDUL;
    EXPECT_EQ(std::string(WinErrStr(code)), std::string("ERROR_") + std::to_string(code));
    unsigned long lookup = GetLastError();
    EXPECT_NE(lookup, ERROR_SUCCESS);
    ASSERT_EQ(g_logged.size(), 1u);
    EXPECT_EQ(g_logged[0], "WinErrStr(): FormatMessage(" + std::to_string(code) +
                               "): " + WinErrName(lookup) + " <" + std::to_string(lookup) + ">");
    LogOpen(nullptr, LogDefaultConsole, nullptr, false);
}

TEST(Win32Locale, ThousandsSeparatorAndLocalTime)
{
    char expected[8] = "";
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, expected, sizeof expected);
    char sep[8] = "x";
    ASSERT_EQ(PlatThousandsSep(sep, sizeof sep), n > 1);
    if (n > 1) {
        EXPECT_STREQ(sep, expected);
        IntStrResetSeparator();
        EXPECT_EQ(std::string(IntStrGroup(1234567)),
                  std::string("1") + expected + "234" + expected + "567");
    }
    char none[1];
    EXPECT_FALSE(PlatThousandsSep(none, sizeof none));

    // 2023-11-14 22:13:20 UTC: the same date or the next one anywhere.
    struct tm tm {
    };
    ASSERT_TRUE(PlatLocalTime(1700000000, &tm));
    EXPECT_EQ(tm.tm_year, 123);
    EXPECT_EQ(tm.tm_mon, 10);
    EXPECT_TRUE(tm.tm_mday == 14 || tm.tm_mday == 15) << tm.tm_mday;
    EXPECT_FALSE(PlatLocalTime(0, nullptr));
}

// A key of its own under HKEY_CURRENT_USER stands in for the system's
// serial port key.
class Win32Ports : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        path = "Software\\MirdelTest\\SERIALCOMM-" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        PlatSetPortListRoot(path.c_str());
    }
    void TearDown() override
    {
        PlatSetPortListRoot(nullptr);
        RegCloseKey(key);
        RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MirdelTest"); // when no other run uses it
    }
    void Value(const char *name, DWORD type, const void *data, DWORD size)
    {
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, (const BYTE *)data, size), ERROR_SUCCESS);
    }
    void Text(const char *name, const char *text)
    {
        Value(name, REG_SZ, text, (DWORD)strlen(text) + 1);
    }
    std::string path;
    HKEY key = nullptr;
};

TEST_F(Win32Ports, StringValuesInRegistryOrderAfterTheFixedNames)
{
    // Names in creation order sort the same way: the system enumerates in
    // one order or the other.
    Text("\\Device\\Serial1", "COM7");
    DWORD number = 3;
    Value("\\Device\\Serial2", REG_DWORD, &number, sizeof number);
    Text("\\Device\\Serial3", "com1");
    Text("\\Device\\Serial4", "COM10");
    // Data without its terminator ends at the reported length.
    Value("\\Device\\Serial5", REG_SZ, "COM12XYZ", 5);
    Text("\\Device\\Serial6", "COM2");

    StartupState state;
    ASSERT_TRUE(StartupLoadPortList(state)) << state.errorText;
    EXPECT_EQ(state.ports, (std::vector<std::string>{"COM1", "COM2", "COM7", "COM10", "COM12"}));
    EXPECT_EQ(PlatPortDevicePath("COM5"), "\\\\.\\COM5");
}

TEST_F(Win32Ports, WalkEndsAtAValueTooLongForTheBuffers)
{
    Text("a", "COM3");
    std::string big(1100, 'X');
    Text("b", big.c_str());
    Text("c", "COM4");

    std::vector<std::string> names;
    const char *call = nullptr;
    ASSERT_TRUE(PlatEnumSerialPorts(names, &call));
    EXPECT_EQ(names, (std::vector<std::string>{"COM3"}));
}

// No device records under Wine: a port only the serial port key lists is
// present without details, one nobody knows is absent.
TEST_F(Win32Ports, DescriptionWithoutDeviceRecords)
{
    Text("\\Device\\Serial1", "COM77");
    PlatPortDetails d;
    d.driver = "stale";
    PlatDescribePort("com77", d);
    EXPECT_TRUE(d.present);
    EXPECT_EQ(StartupDescribePort("COM77").description, "serial port");
    PlatDescribePort("COM78", d);
    EXPECT_FALSE(d.present);
    EXPECT_EQ(d.driver + d.usbVendorId + d.usbProductId + d.manufacturer + d.product +
                  d.serialNumber + d.stablePath,
              "");
}

TEST(Win32PortIds, UsbIdsAndSerialNumber)
{
    const struct {
        const char *hardwareId, *instanceId, *vendor, *product, *serial;
    } cases[] = {
        {"USB\\VID_10C4&PID_EA60&REV_0100", "USB\\VID_10C4&PID_EA60\\0001", "10c4", "ea60", "0001"},
        {"FTDIBUS\\COMPORT&VID_0403&PID_6001", "USB\\VID_0403&PID_6001\\A10K1234", "0403", "6001",
         "A10K1234"},
        // A composite device's interface; no serial number of its own.
        {"USB\\VID_2341&PID_0043&MI_00", "USB\\VID_2341&PID_0043\\6&2F3A4C1B&0&2", "2341", "0043",
         ""},
        {"", "USB\\VID_2341&PID_0043\\85736323838351F0E1B1", "2341", "0043",
         "85736323838351F0E1B1"},
        {"ACPI\\PNP0501", "", "", "", ""},
        {"USB\\VID_04G3&PID_6001", "", "", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hardwareId);
        PlatPortDetails d;
        PlatParseUsbDeviceIds(c.hardwareId, c.instanceId, d);
        EXPECT_EQ(d.usbVendorId, c.vendor);
        EXPECT_EQ(d.usbProductId, c.product);
        EXPECT_EQ(d.serialNumber, c.serial);
    }
}

// The same code can mean another program at the open and an unplugged
// adapter once the port is held.
TEST(Win32PortFault, OpenAndTransferColumns)
{
    const PlatPortFault use = PLAT_PORT_FAULT_IN_USE, gone = PLAT_PORT_FAULT_MISSING,
                        other = PLAT_PORT_FAULT_OTHER;
    const std::tuple<DWORD, PlatPortFault, PlatPortFault> cases[] = {
        {ERROR_ACCESS_DENIED, use, gone}, {ERROR_SHARING_VIOLATION, use, other},
        {ERROR_GEN_FAILURE, other, gone}, {ERROR_OPERATION_ABORTED, other, gone},
        {ERROR_BAD_COMMAND, gone, gone},  {ERROR_DEVICE_NOT_CONNECTED, gone, gone},
        {ERROR_BROKEN_PIPE, other, gone}};
    for (auto [code, open, transfer] : cases) {
        SetLastError(code);
        EXPECT_EQ(PlatPortLastFault(PLAT_PORT_OPENING), open) << WinErrName(code);
        SetLastError(code);
        EXPECT_EQ(PlatPortLastFault(PLAT_PORT_TRANSFER), transfer) << WinErrName(code);
    }
}

TEST(Win32PortList, MissingKeyFailsWithTheRegistryCall)
{
    PlatSetPortListRoot("Software\\MirdelTest\\no such key");
    StartupState state;
    EXPECT_FALSE(StartupLoadPortList(state));
    PlatSetPortListRoot(nullptr);
    EXPECT_EQ(state.errorText,
              std::string("RegOpenKeyEx():\n\n") + WinErrStr(ERROR_FILE_NOT_FOUND));
}

TEST(Win32FileStat, SizeAndLastWriteTime)
{
    char dir[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof dir, dir), 0u);
    std::string path = std::string(dir) + "mirdel-stat-" + std::to_string(GetCurrentProcessId());
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string data(12345, 'S');
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);

    f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    uint64_t size = 0;
    std::time_t modified = 0;
    const char *call = nullptr;
    EXPECT_TRUE(PlatFileStat(f, &size, &modified, &call));
    fclose(f);
    remove(path.c_str());
    EXPECT_EQ(size, 12345u);
    std::time_t now = std::time(nullptr);
    EXPECT_LE(modified, now + 2);
    EXPECT_GE(modified, now - 60);
}

} // namespace

// The stop goes through the child's standard input and waits there until
// the child reads it. Under scripts/test-windows neither this program nor
// the child has a console, as for a desktop program's children: Ctrl-Break
// could not reach it.
TEST(Win32Process, StopReachesTheChildThroughItsInput)
{
    SetEnvironmentVariableA("MIRDEL_TEST_STOP_CHILD", "1");
    std::string error;
    PlatProcess *child = PlatProcessStart(PlatSelfPath("test_win32"), {"test_win32"}, error);
    SetEnvironmentVariableA("MIRDEL_TEST_STOP_CHILD", nullptr);
    ASSERT_NE(child, nullptr) << error;
    EXPECT_TRUE(PlatProcessStop(child, error)) << error;
    EXPECT_EQ(PlatProcessWait(child), 1);
}
