// Children by fork and exec. A child gets a process group of its own, so
// that the terminal's Ctrl-C reaches only the parent, which passes the stop
// on as SIGTERM: one stop per child, never the second that ends it at once.
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

struct PlatProcess {
    pid_t pid;
    FILE *out;
};

PlatProcess *PlatProcessStart(const std::string &path, const std::vector<std::string> &args,
                              std::string &error)
{
    // Close-on-exec, so that no other child holds this one's pipe.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("pipe(): ") + std::strerror(errno);
        return nullptr;
    }
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        error = std::string("fork(): ") + std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return nullptr;
    }
    if (pid == 0) {
        setpgid(0, 0);
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0)
            dup2(in, 0);
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    FILE *out = fdopen(fds[0], "r");
    if (!out) {
        error = std::string("fdopen(): ") + std::strerror(errno);
        close(fds[0]);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return nullptr;
    }
    return new PlatProcess{pid, out};
}

FILE *PlatProcessOutput(PlatProcess *process)
{
    return process->out;
}

void PlatProcessStop(PlatProcess *process)
{
    kill(process->pid, SIGTERM);
}

int PlatProcessWait(PlatProcess *process)
{
    int status = 0;
    pid_t r;
    while ((r = waitpid(process->pid, &status, 0)) < 0 && errno == EINTR) {
    }
    std::fclose(process->out);
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
