// A line too long for the buffer: the last error quotes as much of it as
// leaves room for the reason.
#include "serial/sio.h"

#include "pty_pair.h"

#include <cstring>

TEST(SioLongLine, TheReasonIsNeverCutOff)
{
    PtyPair pty;
    SioPort *port = SioOpen(pty.path.c_str(), 115200, 200);
    ASSERT_NE(port, nullptr) << SioErrStr();
    const std::string tail = "' not terminated with end of line character !";

    std::vector<char> buf(1100);
    pty.send(std::string(1500, 'x') + "\n");
    EXPECT_EQ(SioMsgRecv(port, buf.data(), buf.size(), false, -2), -1);
    EXPECT_EQ(SioGetError(nullptr, 0), -1);
    // 1024 bytes of text: the quote, 977 characters, the reason, the end.
    EXPECT_EQ(std::string(SioErrStr()), "'" + std::string(977, 'x') + tail);

    // The rest comes back as the next line.
    EXPECT_EQ(SioMsgRecv(port, buf.data(), buf.size(), false, -2), 1);
    EXPECT_EQ(std::string(buf.data()), std::string(1500 - 1099, 'x'));

    // Short enough to be quoted whole.
    pty.send(std::string(976, 'y') + "\n");
    buf.assign(977, 0);
    EXPECT_EQ(SioMsgRecv(port, buf.data(), buf.size(), false, -2), -1);
    EXPECT_EQ(std::string(SioErrStr()), "'" + std::string(976, 'y') + tail);
    EXPECT_EQ(SioMsgRecv(port, buf.data(), buf.size(), false, -2), 1);
    EXPECT_STREQ(buf.data(), "");
    SioClose(port);
}
