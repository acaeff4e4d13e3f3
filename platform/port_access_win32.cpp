// Port faults from the Win32 error code. A port that another program holds
// is ERROR_ACCESS_DENIED at the open; who may open a port is not the user's
// concern.
#include "platform/port_access.h"

#include <windows.h>

PlatPortFault PlatPortLastFault(PlatPortStage stage)
{
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
        // On a port already held, USB serial drivers answer so once the
        // adapter has been unplugged.
        return stage == PLAT_PORT_OPENING ? PLAT_PORT_FAULT_IN_USE : PLAT_PORT_FAULT_MISSING;
    case ERROR_SHARING_VIOLATION:
        return stage == PLAT_PORT_OPENING ? PLAT_PORT_FAULT_IN_USE : PLAT_PORT_FAULT_OTHER;
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_BROKEN_PIPE: // the far end of a virtual port (Wine's pseudo-terminal) went
        // The driver ended the transfer as its device went away.
        return stage == PLAT_PORT_TRANSFER ? PLAT_PORT_FAULT_MISSING : PLAT_PORT_FAULT_OTHER;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND: // the USB adapter was unplugged during a transfer
        return PLAT_PORT_FAULT_MISSING;
    default:
        return PLAT_PORT_FAULT_OTHER;
    }
}

bool PlatPortGetAccess(const char *, PlatPortAccess &)
{
    return false;
}
