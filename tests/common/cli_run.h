// Runs the built mirdel-cli as a child process without a terminal and
// collects its exit status, standard output and standard error. A test may
// send a signal (SIGINT unless told) once the output so far satisfies a
// condition, then wait until the program has taken it before doing one more
// step (releasing a simulator's held answer, say), and give it one more
// environment variable ("NAME=value"). Header-only.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#ifndef MIRDEL_BIN_DIR
#error "MIRDEL_BIN_DIR must name the build directory"
#endif

struct CliRun {
    int status = -1; // -1: did not exit by itself
    std::string out, err;
};

// Whether sig is still pending for any thread of process pid: until it is
// not, its handler has not run.
inline bool SignalPending(pid_t pid, int sig)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = opendir(tasks.c_str());
    if (!dir)
        return false;
    bool pending = false;
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream status(tasks + "/" + e->d_name + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0)
                pending = pending || (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
        }
    }
    closedir(dir);
    return pending;
}

// interruptWhen is asked after every read and, while it has not answered
// yes, every few milliseconds (a condition may wait on something other than
// the output); afterTaken is called once the program has taken the signal.
inline CliRun RunCliProgram(std::vector<std::string> args,
                            const std::function<bool(const std::string &out)> &interruptWhen = {},
                            int signal = SIGINT, std::string env = "",
                            const std::function<void()> &afterTaken = {})
{
    const std::string cli = MIRDEL_BIN_DIR "/cli/mirdel-cli";
    CliRun r;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return r;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        dup2(open("/dev/null", O_RDONLY), 0);
        for (int fd : {out[0], out[1], err[0], err[1]})
            close(fd);
        if (!env.empty())
            putenv(env.data());
        args.insert(args.begin(), cli);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(cli.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    enum { WAITING, INTERRUPTED, DONE } step = interruptWhen ? WAITING : DONE;
    // The long poll only guards against a hang.
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        int ready = poll(fds, 2, step == DONE ? 120000 : 2);
        if (ready < 0 || (ready == 0 && step == DONE))
            break;
        for (int i = 0; i < 2; i++) {
            char buf[4096];
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                continue;
            }
            (i == 0 ? r.out : r.err).append(buf, (size_t)n);
        }
        if (step == WAITING && interruptWhen(r.out)) {
            kill(pid, signal);
            step = afterTaken ? INTERRUPTED : DONE;
        } else if (step == INTERRUPTED && !SignalPending(pid, signal)) {
            afterTaken();
            step = DONE;
        }
    }
    if (fds[0].fd >= 0 || fds[1].fd >= 0) {
        r.err += "[the program hangs: killed]";
        kill(pid, SIGKILL);
    }
    for (pollfd &p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int status;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
