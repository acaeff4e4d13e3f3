// Port faults from the Win32 error code. A port that another program holds
// is ERROR_ACCESS_DENIED; who may open a port is not the user's concern.
#include "platform/port_access.h"

#include <windows.h>

PlatPortFault PlatPortLastFault(void)
{
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PLAT_PORT_FAULT_IN_USE;
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
