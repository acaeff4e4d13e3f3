// inotify on /dev: a serial device node is made when the driver binds an
// adapter and removed when it goes, whatever the driver.
#include "platform/portwatch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "platform/syserr.h"

namespace
{
std::string portwatch_dir = "/dev";
}

struct PlatPortWatch {
    int inotify;
    int wake[2]; // written to end the thread
    std::thread thread;
};

void PlatSetPortWatchDir(const char *dir)
{
    portwatch_dir = dir && *dir ? dir : "/dev";
}

PlatPortWatch *PlatPortWatchStart(void (*onChange)(void *), void *context)
{
    PlatPortWatch *w = new PlatPortWatch{-1, {-1, -1}, {}};
    w->inotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (w->inotify < 0 || pipe2(w->wake, O_CLOEXEC) != 0 ||
        inotify_add_watch(w->inotify, portwatch_dir.c_str(),
                          IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO) < 0) {
        PlatSetLastErrorFromErrno(errno);
        for (int fd : {w->inotify, w->wake[0], w->wake[1]})
            if (fd >= 0)
                close(fd);
        delete w;
        return nullptr;
    }
    w->thread = std::thread([w, onChange, context] {
        pollfd fds[2] = {{w->inotify, POLLIN, 0}, {w->wake[0], POLLIN, 0}};
        char events[4096];
        while (poll(fds, 2, -1) >= 0 || errno == EINTR) {
            if (fds[1].revents)
                return;
            if (fds[0].revents && read(w->inotify, events, sizeof events) > 0)
                onChange(context);
        }
    });
    return w;
}

void PlatPortWatchStop(PlatPortWatch *w)
{
    if (!w)
        return;
    char c = 0;
    while (write(w->wake[1], &c, 1) < 0 && errno == EINTR) {
    }
    w->thread.join();
    for (int fd : {w->inotify, w->wake[0], w->wake[1]})
        close(fd);
    delete w;
}
