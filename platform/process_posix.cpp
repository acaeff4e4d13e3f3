// Children by fork and exec. A child gets a process group of its own, so
// that the terminal's Ctrl-C reaches only the parent, which passes the stop
// on through the child's standard input: a signal would end a child that
// has not yet set its handler. The input is a socket written with
// MSG_NOSIGNAL, so that a child that has gone gives EPIPE, never a SIGPIPE
// that would end the parent (which may be a desktop program).
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "platform/console.h"

struct PlatProcess {
    pid_t pid;
    FILE *out;
    int stop; // our end of the child's standard input
};

PlatProcess *PlatProcessStart(const std::string &path, const std::vector<std::string> &args,
                              std::string &error)
{
    // Close-on-exec, so that no other child holds this one's pipe.
    int fds[2], in[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("pipe(): ") + std::strerror(errno);
        return nullptr;
    }
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
        error = std::string("socketpair(): ") + std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return nullptr;
    }
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        error = std::string("fork(): ") + std::strerror(errno);
        for (int fd : {fds[0], fds[1], in[0], in[1]})
            close(fd);
        return nullptr;
    }
    if (pid == 0) {
        setpgid(0, 0);
        dup2(in[1], 0);
        dup2(fds[1], 1);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    close(in[1]);
    FILE *out = fdopen(fds[0], "r");
    if (!out) {
        error = std::string("fdopen(): ") + std::strerror(errno);
        close(fds[0]);
        close(in[0]);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return nullptr;
    }
    return new PlatProcess{pid, out, in[0]};
}

FILE *PlatProcessOutput(PlatProcess *process)
{
    return process->out;
}

// Whether the child has ended, within a moment: one whose input was closed
// is on its way out. It stays a zombie for PlatProcessWait.
static bool process_ended(pid_t pid)
{
    for (int i = 0; i < 40; i++) {
        siginfo_t info = {};
        if (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool PlatProcessStop(PlatProcess *process, std::string &error)
{
    const size_t size = sizeof PLAT_STOP_LINE - 1;
    ssize_t n;
    while ((n = send(process->stop, PLAT_STOP_LINE, size, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    if (n == (ssize_t)size)
        return true;
    int code = n < 0 ? errno : EIO;
    if (process_ended(process->pid))
        return true;
    error = std::string("send(): ") + std::strerror(code);
    return false;
}

int PlatProcessWait(PlatProcess *process)
{
    int status = 0;
    pid_t r;
    while ((r = waitpid(process->pid, &status, 0)) < 0 && errno == EINTR) {
    }
    std::fclose(process->out);
    close(process->stop);
    delete process;
    return r > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string PlatSelfPath(const char *argv0)
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return argv0;
    path[n] = '\0';
    return path;
}
