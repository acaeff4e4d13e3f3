// Serial ports from the registry: the string values of the system's serial
// port key, in the registry's order of enumeration.
#include <windows.h>

#include "platform/ports.h"

#include <cstring>
#include <string>

namespace
{

const char ports_system_key[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Tests point the walk at a key of their own under HKEY_CURRENT_USER.
std::string ports_test_key;

const DWORD PORTS_NAME_CHARS = 1025;
const DWORD PORTS_DATA_BYTES = 1024;

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

// The serial port key tells only the names; the drivers' own details stay
// with the device manager.
void PlatDescribePort(const std::string &name, PlatPortDetails &details)
{
    details = PlatPortDetails();
    std::vector<std::string> names;
    if (!PlatEnumSerialPorts(names, nullptr))
        return;
    for (const std::string &n : names)
        if (_stricmp(n.c_str(), name.c_str()) == 0)
            details.present = true;
}

void PlatSetPortLinkDir(const char *)
{
}
