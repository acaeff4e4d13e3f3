#include "serial/sio.h"

#include "pty_pair.h"
#include "serial/sio_internal.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

using namespace std::chrono;

namespace
{

const bool readFirstAtStart = SioReadFirst(); // before any test reads

bool startsWith(const char *text, const std::string &head)
{
    return strncmp(text, head.c_str(), head.size()) == 0;
}

long msSince(steady_clock::time_point start)
{
    return (long)duration_cast<milliseconds>(steady_clock::now() - start).count();
}

} // namespace

TEST(SioPort, OpenSettingsAndFailures)
{
    PtyPair pty;
    // The device as ftdi_sio would offer it, in a fake sysfs folder found
    // by its numbers: the line feed is its event character while it is open.
    struct stat st;
    char root[] = "/tmp/mirdel-sysfs-XXXXXX";
    ASSERT_TRUE(stat(pty.path.c_str(), &st) == 0 && mkdtemp(root));
    std::string dir = std::string(root) + "/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                      std::to_string(minor(st.st_rdev)) + "/device";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/event_char") << "999\n";
    auto eventChar = [&] {
        return (std::stringstream() << std::ifstream(dir + "/event_char").rdbuf()).str();
    };
    PlatSerialSetSysfsRoot(root);
    SioPort *port = SioOpen(pty.path.c_str(), 115200, 50);
    ASSERT_NE(port, nullptr) << SioErrStr();
    EXPECT_EQ(eventChar(), "266\n");
    termios tio;
    ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL),
              (tcflag_t)(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(cfgetospeed(&tio), (speed_t)B115200);
    // Bytes pass untouched both ways: no translation, no echo.
    pty.send("a\r\nb\x03\x11");
    char buf[8];
    EXPECT_EQ(SioRead(port, buf, 6, 200), 6);
    EXPECT_EQ(std::string(buf, 6), "a\r\nb\x03\x11");
    EXPECT_EQ(SioWrite(port, "x\ny\r", 4, 200), 4);
    EXPECT_EQ(pty.receive(), "x\ny\r");
    SioClose(port);
    EXPECT_EQ(eventChar(), "0\n"); // cleared, as the driver's open leaves it
    PlatSerialSetSysfsRoot(nullptr);
    std::filesystem::remove_all(root);

    EXPECT_EQ(SioOpen(pty.path.c_str(), 12345, 50), nullptr);
    EXPECT_TRUE(startsWith(SioErrStr(), pty.path + ": 12345 ")) << SioErrStr();
    EXPECT_EQ(SioOpen("/dev/mirdel-none", 115200, 50), nullptr);
    EXPECT_TRUE(startsWith(SioErrStr(), "/dev/mirdel-none: ")) << SioErrStr();
    EXPECT_NE(strstr(SioErrStr(), "<ERROR_FILE_NOT_FOUND>"), nullptr) << SioErrStr();
    EXPECT_EQ(SioGetError(nullptr, 0), -1);
    EXPECT_EQ(SioOpen("/dev/null", 115200, 50), nullptr);
    EXPECT_TRUE(startsWith(SioErrStr(), "tcgetattr(): ")) << SioErrStr();
}

TEST(SioPort, OpenIsExclusive)
{
    PtyPair pty;
    int other = open(pty.path.c_str(), O_RDWR | O_NOCTTY); // another program holds the port
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(SioOpen(pty.path.c_str(), 115200, 50), nullptr);
    EXPECT_TRUE(startsWith(SioErrStr(), pty.path + ": ")) << SioErrStr();
    EXPECT_NE(strstr(SioErrStr(), "ERROR_ACCESS_DENIED"), nullptr) << SioErrStr();
    char head[8];
    EXPECT_EQ(SioGetError(head, sizeof head), -1);
    EXPECT_EQ(std::string(SioErrStr(), 7), head);
    close(other);

    SioPort *port = SioOpen(pty.path.c_str(), 115200, 50);
    ASSERT_NE(port, nullptr) << SioErrStr();
    int exclusive = 0;
    EXPECT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    pid_t child = fork(); // a second Mirdel, refused even as root
    if (child == 0)
        _exit(!SioOpen(pty.path.c_str(), 115200, 50) && strstr(SioErrStr(), "ERROR_ACCESS_DENIED")
                  ? 0
                  : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    SioClose(port);
    EXPECT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the exclusive mode outlived the port";
    other = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
}

TEST(SioPort, ReadFirstFlag)
{
    EXPECT_TRUE(readFirstAtStart);
    PtyPair pty;
    SioPort *port = SioOpen(pty.path.c_str(), 115200, 50);
    ASSERT_NE(port, nullptr) << SioErrStr();
    char buf[16];
    pty.send("0123456789");
    EXPECT_EQ(SioRead(port, buf, 10, 200), 10);
    EXPECT_TRUE(SioReadFirst()); // filled: more may be waiting
    pty.send("abcde");
    EXPECT_EQ(SioRead(port, buf, 10, 200), 5);
    EXPECT_FALSE(SioReadFirst());

    // A port opened later keeps what the previous one left.
    SioClose(port);
    port = SioOpen(pty.path.c_str(), 115200, 50);
    EXPECT_FALSE(SioReadFirst());
    pty.send("xyz");
    EXPECT_EQ(SioRead(port, buf, 3, 200), 3);
    SioClose(port);
    port = SioOpen(pty.path.c_str(), 115200, 50);
    EXPECT_TRUE(SioReadFirst());
    SioClose(port);
}

TEST(SioPort, ReadTimeouts)
{
    PtyPair pty;
    SioPort *port = SioOpen(pty.path.c_str(), 115200, 40);
    ASSERT_NE(port, nullptr) << SioErrStr();
    char buf[8];
    std::string before = SioErrStr();
    EXPECT_EQ(SioRead(port, buf, 0, -1), 0);
    EXPECT_EQ(SioRead(port, buf, 4, 0), 0);
    auto start = steady_clock::now();
    EXPECT_EQ(SioRead(port, buf, 4, 30), 0);
    EXPECT_GE(msSince(start), 25);
    start = steady_clock::now();
    EXPECT_EQ(SioRead(port, buf, 4, -2), 0); // the default 40 ms
    EXPECT_GE(msSince(start), 35);
    EXPECT_EQ(SioErrStr(), before) << "a time-out is not an error";

    std::thread peer([&] {
        std::this_thread::sleep_for(milliseconds(20));
        pty.send("late");
    });
    EXPECT_EQ(SioRead(port, buf, 4, -1), 4);
    peer.join();
    SioClose(port);
}

TEST(SioPort, TimeoutReopensTheDevice)
{
    PtyPair pty;
    char dir[] = "/tmp/mirdel-sio-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string link = std::string(dir) + "/port";
    ASSERT_EQ(symlink(pty.path.c_str(), link.c_str()), 0);
    SioPort *port = SioOpen(link.c_str(), 115200, 30);
    ASSERT_NE(port, nullptr) << SioErrStr();
    char line[64];

    // A read timing out drops "two", still in the receive buffer.
    pty.send("one\ntwo\n");
    ASSERT_EQ(SioMsgRecv(port, line, sizeof line, false, 200), 1);
    EXPECT_EQ(SioRead(port, line, 1, 0), 0);
    EXPECT_EQ(SioMsgRecv(port, line, sizeof line, false, 20), 0);
    // A write timing out drops what the driver had queued.
    pty.send("stale\n");
    std::string big(1 << 20, 'w');
    EXPECT_EQ(SioWrite(port, big.data(), (uint32_t)big.size(), 20), 0);
    pty.receive();
    EXPECT_EQ(SioMsgRecv(port, line, sizeof line, false, 20), 0);
    pty.send("three\n");
    EXPECT_EQ(SioMsgRecv(port, line, sizeof line, false, 200), 1);
    EXPECT_STREQ(line, "three");

    // The device is gone when a time-out re-opens it: later calls fail.
    unlink(link.c_str());
    EXPECT_EQ(SioRead(port, line, 4, 10), 0);
    std::string text = SioErrStr();
    EXPECT_TRUE(startsWith(text.c_str(), link + ": ")) << text;
    EXPECT_EQ(SioRead(port, line, 4, 10), -1);
    EXPECT_EQ(SioWrite(port, "x", 1, 10), -1);
    EXPECT_EQ(SioMsgSend(port, "x", true, 10), -1);
    EXPECT_EQ(SioGetError(nullptr, 0), -1);
    EXPECT_EQ(SioErrStr(), text);
    SioClose(port);
    rmdir(dir);
}

TEST(SioPort, PeerHangsUp)
{
    PtyPair pty;
    SioPort *port = SioOpen(pty.path.c_str(), 115200, 1000);
    ASSERT_NE(port, nullptr) << SioErrStr();
    pty.send("half a li");
    std::thread peer([&] {
        std::this_thread::sleep_for(milliseconds(20));
        pty.closeMaster();
    });
    char line[64];
    EXPECT_EQ(SioMsgRecv(port, line, sizeof line, false, -1), -1);
    peer.join();
    EXPECT_TRUE(startsWith(SioErrStr(), "read(4096): ")) << SioErrStr();
    EXPECT_EQ(SioRead(port, line, 8, -1), -1);
    EXPECT_EQ(SioWrite(port, "x\n", 2, -1), -1);
    EXPECT_TRUE(startsWith(SioErrStr(), "write(): ")) << SioErrStr();
    SioClose(port);
}

TEST(SioPort, LineErrorReport)
{
    StartCatchingConsole();
    PlatSerialLineStatus status = {};
    status.errors =
        PLAT_SERIAL_CE_BREAK | PLAT_SERIAL_CE_RXOVER | PLAT_SERIAL_CE_FRAME | PLAT_SERIAL_CE_MODE;
    status.ctsHold = status.rlsdHold = true;
    status.rxQueue = 5;
    status.txQueue = 1234;
    sio_line_error_report(&status);
    const std::vector<std::string> expected = {
        " - CE_RXOVER",       " - CE_FRAME",        " - CE_BREAK",     " - CE_MODE",
        " - comstat:",        "   CTS Hold:  1",    "   DSR Hold:  0", "   RLSD Hold: 1",
        "   XOFF Hold: 0",    "   XOFF Sent: 0",    "   EOF Sent:  0", "   TX Char:   0",
        "   RX Queue:     5", "   TX Queue:  1234",
    };
    EXPECT_EQ(ConsoleLines, expected);
}
