// Children by posix_spawn. A child gets a process group of its own, so
// that the terminal's Ctrl-C reaches only the parent, which passes the stop
// on through the child's standard input: a signal would end a child that
// has not yet set its handler. The input is a socket written with
// MSG_NOSIGNAL, so that a child that has gone gives EPIPE, never a SIGPIPE
// that would end the parent (which may be a desktop program).
//
// Not fork: a fork copies the parent's page tables under its memory lock and
// write-protects every page, so that each first write afterwards faults; a
// desktop window drawing while the station starts its children stalls on
// each of them (docs/performance.md, bench/station). glibc's posix_spawn
// shares the memory until the exec.
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // dup2 clears close-on-exec on the copies, even on one already in place.
    posix_spawn_file_actions_adddup2(&actions, in[1], 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    // A program that cannot be run is told here, with the system's reason.
    int failed = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    close(in[1]);
    if (failed) {
        error = std::string("posix_spawn(): ") + std::strerror(failed);
        close(fds[0]);
        close(in[0]);
        return nullptr;
    }
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
