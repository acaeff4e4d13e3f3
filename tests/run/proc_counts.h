// What a run may leave behind in this process: descriptors and threads,
// counted from /proc.
#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>

// Entries of a /proc directory (without . and ..); -1 when it cannot be read.
inline int ProcEntryCount(const char *dir)
{
    DIR *d = opendir(dir);
    if (!d)
        return -1;
    int n = 0;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            n++;
    closedir(d);
    return n;
}

// The directory's own descriptor is counted each time alike.
inline int OpenFdCount()
{
    return ProcEntryCount("/proc/self/fd");
}

// Whether the thread of this process with that id has gone, waiting up to
// waitMs: a joined thread's entry may outlive the join for a moment.
inline bool ThreadGone(pid_t tid, int waitMs = 1000)
{
    std::string path = "/proc/self/task/" + std::to_string(tid);
    for (int i = 0; i < waitMs && access(path.c_str(), F_OK) == 0; i++)
        usleep(1000);
    return access(path.c_str(), F_OK) != 0;
}
