// Port faults from errno, and a device node's owner and group.
#include "platform/port_access.h"

#include "platform/syserr.h"

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// The same errors mean the same at the open and in a transfer.
PlatPortFault PlatPortLastFault(PlatPortStage)
{
    switch (PlatGetLastErrno()) {
    case EBUSY: // flock() or TIOCEXCL: another program has it
    case EAGAIN:
        return PLAT_PORT_FAULT_IN_USE;
    case EACCES:
    case EPERM:
        return PLAT_PORT_FAULT_NO_ACCESS;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO: // a hung-up line: the adapter was unplugged
        return PLAT_PORT_FAULT_MISSING;
    default:
        return PLAT_PORT_FAULT_OTHER;
    }
}

bool PlatPortGetAccess(const char *path, PlatPortAccess &access)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return false;
    char buf[4096];
    struct passwd pw, *pwp = nullptr;
    if (getpwuid_r(st.st_uid, &pw, buf, sizeof buf, &pwp) == 0 && pwp)
        access.owner = pwp->pw_name;
    else
        access.owner = std::to_string((unsigned long)st.st_uid);
    struct group gr, *grp = nullptr;
    if (getgrgid_r(st.st_gid, &gr, buf, sizeof buf, &grp) == 0 && grp)
        access.group = grp->gr_name;
    else
        access.group = std::to_string((unsigned long)st.st_gid);
    access.groupMayOpen = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    return true;
}
