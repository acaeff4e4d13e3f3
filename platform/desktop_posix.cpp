// The freedesktop.org way: the session's display in the environment, and
// xdg-open, which knows the desktop's viewers. Its exit status tells
// whether one took the file; QDesktopServices only tells that it started.
#include "platform/desktop.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <thread>

#include "platform/syserr.h"

bool PlatHaveGraphicalSession()
{
    for (const char *name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        const char *value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

int PlatOpenDocument(const char *path, int waitMs, bool /*maximised*/)
{
    pid_t pid = fork();
    if (pid < 0) {
        PlatSetLastErrorFromErrno(errno);
        return -1;
    }
    if (pid == 0) {
        // Its own process group: the terminal's Ctrl-C is not the viewer's.
        setpgid(0, 0);
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0)
            dup2(in, 0);
        execlp("xdg-open", "xdg-open", path, static_cast<char *>(nullptr));
        _exit(127);
    }
    // Without a desktop environment xdg-open runs the viewer itself and
    // only ends with it: still running after the wait means a viewer took
    // the file, and a thread of its own collects the status later.
    int status = 0;
    pid_t r = 0;
    const timespec tick = {0, 20 * 1000 * 1000};
    for (int waited = 0; waited < waitMs; waited += 20) {
        r = waitpid(pid, &status, WNOHANG);
        if (r != 0)
            break;
        nanosleep(&tick, nullptr);
    }
    if (r == 0) {
        std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
        return 1;
    }
    if (r < 0) {
        PlatSetLastErrorFromErrno(errno);
        return -1;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return 1;
    // Any other status, 127 (no xdg-open) included: nothing takes the file.
    PlatSetLastErrorFromErrno(ENOTSUP);
    return 0;
}

// The XDG user folder as the session set it (user-dirs.dirs), with $HOME
// put in.
static std::string desktop_xdg_documents(const std::string &home)
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string file = (config && *config ? std::string(config) : home + "/.config") + "/user-dirs.dirs";
    FILE *f = std::fopen(file.c_str(), "r");
    if (!f)
        return "";
    char line[1024];
    std::string found;
    const char key[] = "XDG_DOCUMENTS_DIR=\"";
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, key, sizeof key - 1) != 0)
            continue;
        std::string value = line + sizeof key - 1;
        value = value.substr(0, value.find('"'));
        if (value.rfind("$HOME", 0) == 0)
            value = home + value.substr(5);
        found = value;
    }
    std::fclose(f);
    return found;
}

std::string PlatDocumentsFolder()
{
    const char *home = std::getenv("HOME");
    std::string h = home && *home ? home : ".";
    struct stat st;
    for (std::string dir : {desktop_xdg_documents(h), h + "/Documents"})
        if (!dir.empty() && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return dir;
    return h;
}
