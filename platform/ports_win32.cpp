// Serial ports from the registry: the string values of the system's serial
// port key, in the registry's order of enumeration; what is known of each
// from the device records (SetupAPI).
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include "platform/ports.h"

#include <cctype>
#include <cstring>
#include <string>

namespace
{

const char ports_system_key[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Tests point the walk at a key of their own under HKEY_CURRENT_USER.
std::string ports_test_key;

const DWORD PORTS_NAME_CHARS = 1025;
const DWORD PORTS_DATA_BYTES = 1024;

// The COM port device interface (its header needs the driver kit's types).
const GUID ports_comport_interface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

} // namespace

const char *const *PlatFixedPortNames(void)
{
    static const char *const names[2] = {"COM1", "COM2"};
    return names;
}

void PlatSetPortListRoot(const char *root)
{
    ports_test_key = (root != nullptr) ? root : "";
}

std::string PlatPortDevicePath(const std::string &name)
{
    return "\\\\.\\" + name;
}

bool PlatEnumSerialPorts(std::vector<std::string> &names, const char **failedCall)
{
    HKEY root = ports_test_key.empty() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const char *path = ports_test_key.empty() ? ports_system_key : ports_test_key.c_str();
    HKEY key;
    LONG rc = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError((DWORD)rc);
        if (failedCall != nullptr)
            *failedCall = "RegOpenKeyEx";
        return false;
    }
    // The walk ends at the first value that cannot be read: the end of the
    // list, or a name or data too long for the buffers.
    for (DWORD index = 0;; index++) {
        char name[PORTS_NAME_CHARS];
        BYTE data[PORTS_DATA_BYTES];
        DWORD nameLen = PORTS_NAME_CHARS;
        DWORD dataLen = PORTS_DATA_BYTES;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLen, nullptr, &type, data, &dataLen) !=
            ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        size_t len = 0;
        while (len < dataLen && data[len] != 0)
            len++;
        names.emplace_back((const char *)data, len);
    }
    RegCloseKey(key);
    return true;
}

namespace
{

// A text property of a device ("" when it has none).
std::string ports_device_text(HDEVINFO set, SP_DEVINFO_DATA &info, DWORD property)
{
    char buffer[1024];
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &info, property, &type, (BYTE *)buffer,
                                           sizeof buffer - 2, nullptr) ||
        (type != REG_SZ && type != REG_MULTI_SZ))
        return "";
    buffer[sizeof buffer - 2] = 0;
    return buffer; // of a list, its first entry: the most specific id
}

// The port's name, and the latency timer that FTDI's driver keeps beside it
// (what Device Manager's Advanced port settings change).
std::string ports_device_name(HDEVINFO set, SP_DEVINFO_DATA &info, int *latencyMs = nullptr)
{
    HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE)
        return "";
    char name[256];
    DWORD size = sizeof name - 1, type = 0;
    LONG rc = RegQueryValueExA(key, "PortName", nullptr, &type, (BYTE *)name, &size);
    DWORD latency = 0, latencySize = sizeof latency, latencyType = 0;
    if (latencyMs &&
        RegQueryValueExA(key, "LatencyTimer", nullptr, &latencyType, (BYTE *)&latency,
                         &latencySize) == ERROR_SUCCESS &&
        latencyType == REG_DWORD && latency <= 255)
        *latencyMs = (int)latency;
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return "";
    name[size] = 0;
    return name;
}

std::string ports_instance_id(DEVINST devinst)
{
    char id[MAX_DEVICE_ID_LEN + 1];
    if (CM_Get_Device_IDA(devinst, id, sizeof id, 0) != CR_SUCCESS)
        return "";
    return id;
}

// Finds the port among the devices of one set: the Ports class, or the
// devices that offer the COM port interface (some drivers are in a class
// of their own).
bool ports_find(const GUID &guid, DWORD flags, const std::string &name, PlatPortDetails &details)
{
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | flags);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    SP_DEVINFO_DATA info;
    info.cbSize = sizeof info;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInfo(set, i, &info); i++) {
        int latencyMs = -1;
        if (_stricmp(ports_device_name(set, info, &latencyMs).c_str(), name.c_str()) != 0)
            continue;
        found = true;
        details.latencyTimerMs = latencyMs;
        details.present = true;
        details.driver = ports_device_text(set, info, SPDRP_SERVICE);
        details.manufacturer = ports_device_text(set, info, SPDRP_MFG);
        details.product = ports_device_text(set, info, SPDRP_FRIENDLYNAME);
        if (details.product.empty())
            details.product = ports_device_text(set, info, SPDRP_DEVICEDESC);
        // The USB device the port belongs to: the port itself (a modem-class
        // adapter), or a parent (a vendor driver's bus, a composite device's
        // interface).
        std::string usbId;
        DEVINST devinst = info.DevInst;
        for (int depth = 0; depth < 4; depth++) {
            std::string id = ports_instance_id(devinst);
            if (id.compare(0, 8, "USB\\VID_") == 0 && id.find("&MI_") == std::string::npos) {
                usbId = id;
                break;
            }
            DEVINST parent;
            if (CM_Get_Parent(&parent, devinst, 0) != CR_SUCCESS)
                break;
            devinst = parent;
        }
        PlatParseUsbDeviceIds(ports_device_text(set, info, SPDRP_HARDWAREID), usbId, details);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

std::string ports_hex_after(const std::string &id, const char *tag)
{
    size_t at = id.find(tag);
    if (at == std::string::npos || id.size() < at + 8)
        return "";
    std::string hex = id.substr(at + 4, 4);
    for (char &c : hex) {
        if (!isxdigit((unsigned char)c))
            return "";
        c = (char)tolower((unsigned char)c);
    }
    return hex;
}

} // namespace

void PlatParseUsbDeviceIds(const std::string &hardwareId, const std::string &usbInstanceId,
                           PlatPortDetails &details)
{
    // "USB\VID_0403&PID_6001&REV_0600", "FTDIBUS\COMPORT&VID_0403&PID_6001";
    // the USB device's own id when the port's says nothing.
    std::string upper = hardwareId;
    for (char &c : upper)
        c = (char)toupper((unsigned char)c);
    if (ports_hex_after(upper, "VID_").empty())
        upper = usbInstanceId;
    details.usbVendorId = ports_hex_after(upper, "VID_");
    details.usbProductId = details.usbVendorId.empty() ? "" : ports_hex_after(upper, "PID_");
    if (details.usbProductId.empty())
        details.usbVendorId.clear();
    // "USB\VID_0403&PID_6001\A10K1234": the last part is the device's serial
    // number, unless the system made one up (it has an '&' in it).
    size_t slash = usbInstanceId.rfind('\\');
    details.serialNumber.clear();
    if (slash != std::string::npos && usbInstanceId.find('&', slash) == std::string::npos)
        details.serialNumber = usbInstanceId.substr(slash + 1);
}

// The system's device records tell the driver, the maker and the USB ids;
// a port that only the serial port key lists is present without them.
void PlatDescribePort(const std::string &name, PlatPortDetails &details)
{
    details = PlatPortDetails();
    if (name.empty())
        return;
    if (ports_find(GUID_DEVCLASS_PORTS, 0, name, details) ||
        ports_find(ports_comport_interface, DIGCF_DEVICEINTERFACE, name, details))
        return;
    std::vector<std::string> names;
    if (!PlatEnumSerialPorts(names, nullptr))
        return;
    for (const std::string &n : names)
        if (_stricmp(n.c_str(), name.c_str()) == 0)
            details.present = true;
}

void PlatSetPortLinkDir(const char *) {}
