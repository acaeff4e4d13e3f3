// Error texts: errno names, the system error table, the errno mapping and
// the messages behind the codes.
#include "platform/syserr.h"
#include "support/winerr.h"
#include "support/err.h"
#include "support/log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace
{

std::vector<std::string> g_logged;

void capture(const char *line, bool)
{
    g_logged.push_back(line);
}

TEST(ErrText, ErrnoNamesAndTexts)
{
    EXPECT_STREQ(ErrnoName(EPERM), "EPERM");
    EXPECT_STREQ(ErrnoName(ESPIPE), "ESPIPE");
    EXPECT_STREQ(ErrnoName(ENOSYS), "ENOSYS");
    EXPECT_STREQ(ErrnoName(EWOULDBLOCK), "EAGAIN");
    EXPECT_STREQ(ErrnoName(99), "E99");
    EXPECT_STREQ(ErrnoName(-3), "E-3");
    EXPECT_EQ(std::string(ErrnoStr(ENOENT)), std::string(strerror(ENOENT)) + " <ENOENT>");
    EXPECT_EQ(std::string(ErrnoStr(99)), std::string(strerror(99)) + " <E99>");

    // Each thread has its own buffer.
    const char *mine = ErrnoStr(EBUSY);
    std::string theirs;
    std::thread([&] { theirs = ErrnoStr(EIO); }).join();
    EXPECT_EQ(std::string(mine), std::string(strerror(EBUSY)) + " <EBUSY>");
    EXPECT_EQ(theirs, std::string(strerror(EIO)) + " <EIO>");
}

TEST(ErrText, WinErrTableAndNames)
{
    ASSERT_EQ(sizeof WinErrNames / sizeof WinErrNames[0], 156u);
    EXPECT_EQ(WinErrNames[0].code, -1);
    EXPECT_STREQ(WinErrNames[0].name, "ERROR_");
    for (int i = 1; i <= 153; i++) {
        ASSERT_NE(WinErrNames[i].name, nullptr) << i;
        EXPECT_GT(WinErrNames[i].code, WinErrNames[i - 1].code) << WinErrNames[i].name;
    }
    EXPECT_EQ(WinErrNames[1].code, 0);
    EXPECT_EQ(WinErrNames[153].code, 199);
    EXPECT_EQ(WinErrNames[154].code, 995);
    EXPECT_EQ(WinErrNames[155].code, 317);

    // The header's constants and the table agree.
#define NAME_OF(c) EXPECT_STREQ(WinErrName(c), #c)
    NAME_OF(ERROR_SUCCESS);
    NAME_OF(ERROR_ACCESS_DENIED);
    NAME_OF(ERROR_GEN_FAILURE);
    NAME_OF(ERROR_INVALID_PARAMETER);
    NAME_OF(ERROR_SEM_TIMEOUT);
    NAME_OF(ERROR_SEEK_ON_DEVICE);
    NAME_OF(ERROR_BAD_EXE_FORMAT);
    NAME_OF(ERROR_MR_MID_NOT_FOUND);
    NAME_OF(ERROR_OPERATION_ABORTED);
#undef NAME_OF
    EXPECT_STREQ(WinErrName(194), "ERROR_ITERATED_DATA_EXCEEDS_64k");
    EXPECT_STREQ(WinErrName(35), "ERROR_35");
    EXPECT_STREQ(WinErrName(200), "ERROR_200");
    EXPECT_STREQ(WinErrName(0xFFFFFFFFUL), "ERROR_4294967295"); // not the prefix row
}

TEST(ErrText, ErrnoMapping)
{
    struct {
        int err;
        unsigned long code;
    } cases[] = {
        {0, ERROR_SUCCESS},
        {EACCES, ERROR_ACCESS_DENIED},
        {EPERM, ERROR_ACCESS_DENIED},
        {EBUSY, ERROR_ACCESS_DENIED},
        {EAGAIN, ERROR_ACCESS_DENIED},
        {EWOULDBLOCK, ERROR_ACCESS_DENIED},
        {ENOENT, ERROR_FILE_NOT_FOUND},
        {ENODEV, ERROR_FILE_NOT_FOUND},
        {ENXIO, ERROR_FILE_NOT_FOUND},
        {EIO, ERROR_GEN_FAILURE},
        {ETIMEDOUT, ERROR_SEM_TIMEOUT},
        {EINTR, ERROR_OPERATION_ABORTED},
        {ECANCELED, ERROR_OPERATION_ABORTED},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
        {EINVAL, ERROR_INVALID_PARAMETER},
        {EBADF, ERROR_INVALID_HANDLE},
        {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
        {EPIPE, ERROR_BROKEN_PIPE},
        {ENOTTY, ERROR_INVALID_FUNCTION},
        {ENOSPC, ERROR_DISK_FULL},
        {EROFS, ERROR_WRITE_PROTECT},
        {ENOSYS, ERROR_CALL_NOT_IMPLEMENTED},
        {ENOTDIR, ERROR_PATH_NOT_FOUND},
        {EEXIST, ERROR_FILE_EXISTS},
        {EPROTO, ERROR_GEN_FAILURE},
        {12345, ERROR_GEN_FAILURE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PlatErrnoToCode(c.err), c.code) << ErrnoName(c.err);
}

TEST(ErrText, MessagesBehindCodes)
{
    // The errno that produced the code gives the message.
    EXPECT_EQ(PlatSetLastErrorFromErrno(EBUSY), ERROR_ACCESS_DENIED);
    EXPECT_STREQ(WinLastErrStr(), "Device or resource busy <ERROR_ACCESS_DENIED>");
    PlatSetLastErrorFromErrno(EPROTO);
    EXPECT_EQ(std::string(WinLastErrStr()), std::string(strerror(EPROTO)) + " <ERROR_GEN_FAILURE>");

    // Otherwise the first errno of the code, and its last character is kept.
    EXPECT_EQ(std::string(WinErrStr(ERROR_ACCESS_DENIED)),
              std::string(strerror(EACCES)) + " <ERROR_ACCESS_DENIED>");
    PlatSetLastError(ERROR_GEN_FAILURE);
    EXPECT_EQ(std::string(WinLastErrStr()), std::string(strerror(EIO)) + " <ERROR_GEN_FAILURE>");
    EXPECT_EQ(std::string(WinErrStr(0)), std::string(strerror(0)) + " <ERROR_SUCCESS>");

    // The last error belongs to the thread.
    PlatSetLastErrorFromErrno(EBUSY);
    unsigned long other = 1;
    std::string otherText;
    std::thread([&] {
        other = PlatGetLastError();
        otherText = WinLastErrStr();
    }).join();
    EXPECT_EQ(other, ERROR_SUCCESS);
    EXPECT_EQ(otherText, std::string(strerror(0)) + " <ERROR_SUCCESS>");
    EXPECT_EQ(PlatGetLastError(), ERROR_ACCESS_DENIED);
}

TEST(ErrText, CodeWithoutTextGivesBareNameAndOneLogLine)
{
    ASSERT_TRUE(LogOpen(nullptr, capture, nullptr, false));
    g_logged.clear();
    PlatSetLastError(ERROR_SUCCESS);
    EXPECT_STREQ(WinErrStr(200), "ERROR_200");
    ASSERT_EQ(g_logged.size(), 1u);
    EXPECT_EQ(g_logged[0], "WinErrStr(): FormatMessage(200): ERROR_MR_MID_NOT_FOUND <317>");
    EXPECT_EQ(PlatGetLastError(), ERROR_MR_MID_NOT_FOUND);
    char buf[8] = "x";
    EXPECT_FALSE(PlatErrorMessage(ERROR_MR_MID_NOT_FOUND, buf, sizeof buf));

    // Through %W the look-up's report is a nested call.
    g_logged.clear();
    PlatSetLastError(170); // ERROR_BUSY: no errno maps to it
    Log("port: %W");
    ASSERT_EQ(g_logged.size(), 2u);
    EXPECT_EQ(g_logged[0], "vLogX()-REENT #1: WinErrStr(): FormatMessage(170): "
                           "ERROR_MR_MID_NOT_FOUND <317>");
    EXPECT_EQ(g_logged[1], "port: ERROR_BUSY");
    LogOpen(nullptr, LogDefaultConsole, nullptr, false);
}

} // namespace
