// The serial ports the system knows.
#pragma once

#include <string>
#include <vector>

// The two names always offered first, whether or not the ports exist.
const char *const *PlatFixedPortNames(void); // two entries

// Appends the serial device names the system knows, in the system's order.
// On failure returns false with the thread's last system error set and
// *failedCall naming the system call ("opendir").
bool PlatEnumSerialPorts(std::vector<std::string> &names, const char **failedCall);

// The path a port name is opened with.
std::string PlatPortDevicePath(const std::string &name);

// Where the port list is read from (POSIX: the sysfs root, "/sys" by
// default; Windows: a key under HKEY_CURRENT_USER instead of the system's
// serial port key, which null or "" restores). Tests lay out a fake tree.
void PlatSetPortListRoot(const char *root);

// What the system knows of a serial port. Empty texts are unknown.
struct PlatPortDetails {
    bool present = false;    // the system has this port, with hardware behind it
    std::string driver;      // "ftdi_sio", "cdc_acm", "serial" ...
    std::string usbVendorId; // four hex digits, for a USB adapter
    std::string usbProductId;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    std::string stablePath; // a link that keeps naming this adapter (/dev/serial/by-id/...)
    int latencyTimerMs = -1; // how long an FTDI adapter holds a short reply; -1: not known
};

// Fills details for a port name as PlatEnumSerialPorts gives it.
void PlatDescribePort(const std::string &name, PlatPortDetails &details);

// Windows: the USB vendor and product ids from a port's hardware id (or,
// when it has none, from its USB device's instance id) and the serial number
// from that instance id ("USB\VID_0403&PID_6001\A10K1234"); ids in lower
// case, as POSIX gives them.
void PlatParseUsbDeviceIds(const std::string &hardwareId, const std::string &usbInstanceId,
                           PlatPortDetails &details);

// Where the stable links are looked for (POSIX: "/dev/serial/by-id"); null
// or "" restores it. Tests lay out their own.
void PlatSetPortLinkDir(const char *dir);
