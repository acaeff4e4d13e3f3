// Runs mirdel-sim as a child process for a test: starts it with the given
// options, reads the device path from its first output line, and ends it
// when the object goes away. Header-only, shared by the test programs.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef MIRDEL_BIN_DIR
#error "MIRDEL_BIN_DIR must name the build directory"
#endif

class SimProcess {
public:
    // Starts the simulator; options are its command-line words. A transcript
    // is always written, to a file of its own.
    explicit SimProcess(std::vector<std::string> options = {})
    {
        char tmpl[] = "/tmp/mirdel-sim-XXXXXX";
        char *dir = mkdtemp(tmpl);
        if (dir)
            dir_ = dir;
        transcript_ = dir_ + "/transcript.txt";
        options.insert(options.begin(), {"--transcript", transcript_, "--time-limit", "120"});

        int out[2];
        if (pipe(out) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<char *> argv;
            std::string bin = std::string(MIRDEL_BIN_DIR) + "/sim/mirdel-sim";
            argv.push_back(const_cast<char *>(bin.c_str()));
            for (auto &o : options)
                argv.push_back(const_cast<char *>(o.c_str()));
            argv.push_back(nullptr);
            execv(bin.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        // The first line is the device path.
        std::string line;
        char c;
        struct pollfd p = {out[0], POLLIN, 0};
        while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(out[0]);
        path_ = line;
    }

    ~SimProcess()
    {
        Stop();
        if (!dir_.empty()) {
            std::remove(transcript_.c_str());
            rmdir(dir_.c_str());
        }
    }

    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // The device path the host opens; empty when the simulator did not start.
    const std::string &Path() const { return path_; }

    // Ends the simulator (SIGTERM) and waits for it; returns its exit status,
    // or -1 when it was killed by a signal or never ran.
    int Stop()
    {
        if (pid_ <= 0)
            return exitStatus_;
        kill(pid_, SIGTERM);
        return Wait();
    }

    // Waits for the simulator to end by itself (for example after --once),
    // at most timeoutMs; false when it is still running.
    bool WaitForExit(int timeoutMs)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
            int status;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = 0;
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return pid_ <= 0;
    }

    // The transcript so far: one line per line received ("< ") or sent ("> ").
    std::vector<std::string> Transcript() const
    {
        std::vector<std::string> lines;
        std::ifstream in(transcript_);
        std::string l;
        while (std::getline(in, l))
            lines.push_back(l);
        return lines;
    }

    // Only the lines the simulator received from the host, without "< ".
    std::vector<std::string> Received() const
    {
        std::vector<std::string> lines;
        for (const auto &l : Transcript())
            if (l.rfind("< ", 0) == 0)
                lines.push_back(l.substr(2));
        return lines;
    }

    const std::string &TranscriptPath() const { return transcript_; }

    // Waits until the transcript holds line at least count times, at most
    // timeoutMs (a bound against hangs only); false when it never did.
    bool WaitForLine(const std::string &line, size_t count = 1, int timeoutMs = 60000) const
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t n = 0;
            for (const std::string &l : Transcript())
                n += l == line;
            if (n >= count)
                return true;
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // A "hold" fault: waits until the simulator holds its answer for the
    // count-th time ("# held"); Release lets it send the answer.
    bool WaitHeld(size_t count = 1, int timeoutMs = 60000) const
    {
        return WaitForLine("# held", count, timeoutMs);
    }
    void Release() const
    {
        if (pid_ > 0)
            kill(pid_, SIGUSR1);
    }

private:
    int Wait()
    {
        int status;
        if (waitpid(pid_, &status, 0) == pid_)
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = 0;
        return exitStatus_;
    }

    pid_t pid_ = -1;
    int exitStatus_ = -1;
    std::string dir_;
    std::string transcript_;
    std::string path_;
};
