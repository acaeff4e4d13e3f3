// The advice after a port that cannot be opened or that went away: chosen
// by the system's error, not by the code name it shares with others.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "run_helpers.h"
#include "serial/sio.h"
#include "tests/common/sim_process.h"

namespace
{

const uid_t kNobody = 65534;

// RunOpenPort(path) in a child that runs as nobody: root would be let in.
std::string OpenAsNobody(const std::string &path)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe() failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string error = "still open";
        if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0) {
            SioPort *port = RunOpenPort(path, error);
            if (port)
                SioClose(port);
        } else {
            error = "cannot become nobody";
        }
        ssize_t n = write(fds[1], error.data(), error.size());
        _exit(n == (ssize_t)error.size() ? 0 : 1);
    }
    close(fds[1]);
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, (size_t)n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return text;
}

} // namespace

TEST(RunOpenAdvice, DeviceTheUserMayNotOpen)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a device node and to open it as another user";
    const struct {
        mode_t mode;
        uid_t owner;
        const char *group;
        const char *advice;
    } cases[] = {
        // A user outside the device's group, the usual case.
        {0660, 0, "dialout",
         "You may not open this port: the device belongs to the group 'dialout'. Join the group, "
         "then log out and in again:\n\n    sudo usermod -aG dialout $USER"},
        // A device only its owner may open: joining its group would not help.
        {0600, 1, "dialout",
         "You may not open this port: only its owner 'daemon' may open the device. Ask the "
         "administrator to give it to the group dialout, then join that group and log out and in "
         "again:\n\n    sudo usermod -aG dialout $USER"},
    };
    char dir[] = "/tmp/mirdel-advice-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    chmod(dir, 0755);
    std::string node = std::string(dir) + "/ttyAdvice";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.advice);
        struct group *g = getgrnam(c.group);
        ASSERT_NE(g, nullptr) << "no group " << c.group;
        // The console's numbers: the open is refused before the driver.
        ASSERT_EQ(mknod(node.c_str(), S_IFCHR | c.mode, makedev(5, 1)), 0);
        ASSERT_EQ(chown(node.c_str(), c.owner, g->gr_gid), 0);
        ASSERT_EQ(chmod(node.c_str(), c.mode), 0);
        EXPECT_EQ(OpenAsNobody(node),
                  node + ": Permission denied <ERROR_ACCESS_DENIED>\n\n" + c.advice);
        unlink(node.c_str());
    }
    rmdir(dir);
}

TEST(RunOpenAdvice, DeviceLostDuringTheRun)
{
    const struct {
        const char *fault;
        bool lost;
    } cases[] = {
        {"record:3:hangup", true},
        {"record:3:refuse", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fault);
        SimProcess sim({"--fault", c.fault});
        ASSERT_FALSE(sim.Path().empty());
        FirmwareFile file(SmallLayout());
        RecordingView view;
        std::string error;
        SioPort *port = RunOpenPort(sim.Path(), error);
        ASSERT_NE(port, nullptr) << error;
        UploadRun run(file.firmware, file.path, view);
        EXPECT_EQ(run.RunUpload(port), UPLOAD_FAILED);
        SioClose(port);
        EXPECT_EQ(run.deviceLost, c.lost) << run.errorText;
        std::string outcome = RunOutcomeText(UPLOAD_FAILED, run.errorCode, run.errorText, run.deviceLost).text;
        size_t at = outcome.find("The device went away during the run");
        EXPECT_EQ(at != std::string::npos, c.lost) << outcome;
    }
}
