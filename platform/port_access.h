// Why a serial device could not be opened or was lost, told from the
// system's own error rather than from the code it is shown with (several
// errors share ERROR_ACCESS_DENIED), and who may open a device.
#pragma once

#include <string>

enum PlatPortFault {
    PLAT_PORT_FAULT_OTHER = 0,
    PLAT_PORT_FAULT_IN_USE = 1,    // another program holds the device
    PLAT_PORT_FAULT_NO_ACCESS = 2, // the user may not open it
    PLAT_PORT_FAULT_MISSING = 3,   // no such device, or it went away
};

// When the error came: opening the device, or a read, write or wait on a
// device already open. A USB serial driver answers a transfer with errors
// that mean other things at the open once its adapter is unplugged.
enum PlatPortStage {
    PLAT_PORT_OPENING = 0,
    PLAT_PORT_TRANSFER = 1,
};

// Classifies the calling thread's last system error, as a failed open (or
// a failed read, write or wait of the open device) left it.
PlatPortFault PlatPortLastFault(PlatPortStage stage);

// Who may open the device at path. False when the system cannot tell.
struct PlatPortAccess {
    std::string owner;      // user name (or number) of the device's owner
    std::string group;      // group name (or number) of the device's group
    bool groupMayOpen;      // the group may read and write the device
};
bool PlatPortGetAccess(const char *path, PlatPortAccess &access);
