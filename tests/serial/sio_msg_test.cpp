#include "serial/sio.h"

#include "pty_pair.h"

#include <cstring>
#include <thread>

namespace
{

struct Link : ::testing::Test {
    PtyPair pty;
    SioPort *port = nullptr;

    void SetUp() override
    {
        port = SioOpen(pty.path.c_str(), 115200, 200);
        ASSERT_NE(port, nullptr) << SioErrStr();
        StartCatchingConsole();
    }
    void TearDown() override { SioClose(port); }

    std::string recv(size_t size = 64, int32_t timeout = -2)
    {
        std::vector<char> buf(size, '#');
        int r = SioMsgRecv(port, buf.data(), size, false, timeout);
        return r == 1 ? std::string(buf.data()) : "<" + std::to_string(r) + ">";
    }
    // The acknowledgements are queued before the message goes out.
    int sendAgainst(const std::string &acks, const char *msg = "S1")
    {
        pty.send(acks);
        return SioMsgSend(port, msg, true, -2);
    }
};

const char record[] = "S1130000285F245F2212226A000424290008237C2A";

} // namespace

TEST_F(Link, ReceivesLines)
{
    pty.send("a\nbb\n\n\rc\rc\r\n\r\n"); // one refill
    for (const char *expected : {"a", "bb", "", "cc", ""})
        EXPECT_EQ(recv(), expected);
    EXPECT_EQ(recv(64, 20), "<0>");

    // Size 8: seven bytes with the line feed fit; one more does not, and
    // its line feed comes back as the next line. CRs do not count.
    pty.send("123456\n1234567\n12\r\r\r3456\r\n");
    EXPECT_EQ(recv(8), "123456");
    EXPECT_EQ(recv(8), "<-1>");
    EXPECT_EQ(SioGetError(nullptr, 0), -1);
    EXPECT_STREQ(SioErrStr(), "'1234567' not terminated with end of line character !");
    EXPECT_EQ(recv(8), "");
    EXPECT_EQ(recv(8), "123456");

    pty.send(std::string("a\0b\n", 4)); // a NUL does not hide the line feed
    EXPECT_EQ(recv(), "a");

    pty.send("job\n");
    char line[16];
    EXPECT_EQ(SioMsgRecv(port, line, sizeof line, true, -2), 1);
    EXPECT_STREQ(line, "job");
    EXPECT_EQ(pty.receive(), "+OK\n");
    EXPECT_TRUE(ConsoleLines.empty());
}

TEST_F(Link, PositiveAcknowledgements)
{
    EXPECT_EQ(SioMsgSend(port, record, false, -2), 1);
    EXPECT_EQ(sendAgainst("+OK\n", record), 1);
    EXPECT_EQ(pty.receive(), std::string(record) + "\n" + record + "\n");
    EXPECT_EQ(sendAgainst("+\n"), 1);
    EXPECT_EQ(sendAgainst("+s\n"), 1);
    EXPECT_TRUE(ConsoleLines.empty());
    EXPECT_EQ(sendAgainst("+OK erased 3 sectors\r\n"), 1);
    EXPECT_EQ(sendAgainst("+OK %s%n%W\n"), 1);
    EXPECT_EQ(ConsoleLines, (std::vector<std::string>{"+OK erased 3 sectors", "+OK %s%n%W"}));
    EXPECT_EQ(sendAgainst("+STOP\n"), 2);
    EXPECT_EQ(sendAgainst("+Sx y\n"), 2);
    EXPECT_EQ(ConsoleLines.size(), 2u);

    // A shorter message after a longer one goes out without its tail.
    pty.receive();
    std::string longer(300, 'L');
    EXPECT_EQ(sendAgainst("+OK\n+OK\n", longer.c_str()), 1);
    EXPECT_EQ(SioMsgSend(port, "x", true, -2), 1);
    EXPECT_EQ(pty.receive(), longer + "\nx\n");
}

TEST_F(Link, RetriesWithTheSameBytes)
{
    // A peer that reads each message whole before answering it.
    auto peer = [this](std::vector<std::string> answers, std::vector<std::string> *seen) {
        for (const std::string &a : answers) {
            std::string got;
            while (got.empty() || got.back() != '\n') {
                std::string piece = pty.receive(1, 1000);
                if (piece.empty())
                    return;
                got += piece;
            }
            seen->push_back(got);
            pty.send(a);
        }
    };
    for (const char *retry : {"-RETRY\n", "-RETRY I/O timeout\n"}) {
        ConsoleLines.clear();
        std::vector<std::string> seen;
        std::thread t(peer, std::vector<std::string>{retry, retry, retry, "+OK\n"}, &seen);
        EXPECT_EQ(SioMsgSend(port, record, true, -2), 1) << retry;
        t.join();
        EXPECT_EQ(seen, std::vector<std::string>(4, std::string(record) + "\n"));
        EXPECT_EQ(ConsoleLines, std::vector<std::string>(3, std::string(retry, strlen(retry) - 1)));
    }
    std::vector<std::string> seen;
    std::thread t(peer, std::vector<std::string>{"-RETRY\n", "-ERR no room\n"}, &seen);
    EXPECT_EQ(SioMsgSend(port, "S9", true, -2), -1);
    t.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"S9\n", "S9\n"}));
    EXPECT_EQ(SioGetError(nullptr, 0), 1);
    EXPECT_STREQ(SioErrStr(), "no room");
}

TEST_F(Link, RefusalsAndBadAcknowledgements)
{
    // Refusals: code 1 and the reason as it came, never used as a format.
    const char *refusals[][2] = {{"-retry again\n", "again"},
                                 {"-RETRYX\n", ""},
                                 {"-ERR\n", ""},
                                 {"-ERR flash %s\x01"
                                  "failed\n",
                                  "flash %s\nfailed"}};
    for (auto &r : refusals) {
        EXPECT_EQ(sendAgainst(r[0]), -1) << r[0];
        EXPECT_EQ(SioGetError(nullptr, 0), 1) << r[0];
        EXPECT_STREQ(SioErrStr(), r[1]);
    }
    EXPECT_EQ(ConsoleLines, (std::vector<std::string>{"-retry again", "-RETRYX", "-ERR",
                                                      "-ERR flash %s", "failed"}));

    EXPECT_EQ(sendAgainst("OK\n"), -1);
    EXPECT_EQ(SioGetError(nullptr, 0), -1);
    EXPECT_STREQ(SioErrStr(), "'OK': unrecognized acknowledgement !");
    EXPECT_EQ(sendAgainst("\n"), -1);
    EXPECT_STREQ(SioErrStr(), "'': unrecognized acknowledgement !");
    pty.receive();
    EXPECT_EQ(SioMsgSend(port, "S1", true, 20), 0);
    EXPECT_EQ(pty.receive(), "S1\n");
    EXPECT_EQ(sendAgainst("+" + std::string(511, 'k') + "\n"),
              -1); // longer than the 512-byte buffer
    EXPECT_NE(strstr(SioErrStr(), "not terminated with end of line character !"), nullptr);
}

TEST(SioMsgText, ShownText)
{
    auto shown = [](std::string line) { return std::string(SioMsgText(line.data())); };
    EXPECT_EQ(shown("-ERR checksum wrong"), "checksum wrong");
    EXPECT_EQ(shown("+OK erased 3 sectors"), "erased 3 sectors");
    EXPECT_EQ(shown("-ERR"), "-ERR");
    EXPECT_EQ(shown("- "), "");
    EXPECT_EQ(shown("-12 blocks"), "-12 blocks");
    EXPECT_EQ(shown("+7"), "+7");
    EXPECT_EQ(shown("plain text"), "plain text");
    EXPECT_EQ(shown("-ERR first\x01second"), "first\nsecond");
    EXPECT_EQ(shown("-5\x01x"), "-5\nx");
    EXPECT_EQ(shown(""), "");
    char line[] = "-E in\x01place";
    EXPECT_EQ(SioMsgText(line), line + 3);
    EXPECT_STREQ(line, "-E in\nplace");
}
