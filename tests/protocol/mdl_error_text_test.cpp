// The error state holds texts as they are shown: SOH line breaks of a
// received line become line feeds there, while the "-ERR" line sent to the
// instrument keeps them.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <string>

#include "firmware/mdl.h"
#include "protocol/mdl_pc.h"
#include "serial/sio.h"

namespace
{

struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty()
    {
        char name[256];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~Pty()
    {
        close(master);
        close(slave);
    }
    std::string Receive() const
    {
        std::string got;
        char buf[512];
        pollfd p = {master, POLLIN, 0};
        while (poll(&p, 1, 50) > 0) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, (size_t)n);
        }
        return got;
    }
};

} // namespace

TEST(MdlErrorText, SohBecomesLineFeedInTheShownTextOnly)
{
    MdlFail(nullptr, MDL_ERR_LOCAL, "'%s': not a S-record !", "-ERR one\x01two");
    EXPECT_STREQ(MdlErrorText(), "'-ERR one\ntwo': not a S-record !");
    EXPECT_EQ(MdlGetError(), MDL_ERR_LOCAL);

    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    SioPort *port = SioOpen(pty.path.c_str(), 115200, 200);
    ASSERT_NE(port, nullptr) << SioErrStr();
    MdlFail(port, MDL_ERR_LOCAL, "'%s': not a S-record !", "a\x01%s");
    EXPECT_STREQ(MdlErrorText(), "'a\n%s': not a S-record !");
    EXPECT_EQ(pty.Receive(), "-ERR 'a\x01%s': not a S-record !\n");

    // An acknowledgement with neither sign is quoted in the link's text.
    std::string ack = "?one\x01two\n";
    ASSERT_EQ(write(pty.master, ack.data(), ack.size()), (ssize_t)ack.size());
    EXPECT_EQ(SioMsgSend(port, "S1", true, -2), -1);
    MdlSendFailed();
    EXPECT_EQ(MdlGetError(), MDL_ERR_LOCAL);
    EXPECT_STREQ(MdlErrorText(), "SioMsgSend(): '?one\ntwo': unrecognized acknowledgement !");

    // A refusal's reason, already converted by the link, stays as it is.
    std::string refusal = "-ERR %n\x01x\n";
    ASSERT_EQ(write(pty.master, refusal.data(), refusal.size()), (ssize_t)refusal.size());
    EXPECT_EQ(SioMsgSend(port, "S1", true, -2), -1);
    MdlSendFailed();
    EXPECT_EQ(MdlGetError(), MDL_ERR_INSTRUMENT);
    EXPECT_STREQ(MdlErrorText(), "%n\nx");
    SioClose(port);
}
