// Serial ports from sysfs: every entry of <root>/class/tty that belongs to
// a device, less the placeholders the 8250 driver registers for UARTs that
// are not there.
#include "platform/ports.h"

#include "platform/syserr.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

static std::string ports_root = "/sys";

const char *const *PlatFixedPortNames(void)
{
    static const char *const names[2] = {"ttyS0", "ttyS1"};
    return names;
}

void PlatSetPortListRoot(const char *root)
{
    ports_root = (root != nullptr && root[0] != '\0') ? root : "/sys";
}

std::string PlatPortDevicePath(const std::string &name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    return "/dev/" + name;
}

static bool ports_is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Natural order: runs of digits compare by their value, so that ttyUSB2
// comes before ttyUSB10. Equal values with different spellings ("01" and
// "1") fall back to byte order to keep the order strict.
static bool ports_natural_less(const std::string &a, const std::string &b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (ports_is_digit(a[i]) && ports_is_digit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && ports_is_digit(a[ie]))
                ie++;
            while (je < b.size() && ports_is_digit(b[je]))
                je++;
            size_t is = i, js = j;
            while (is + 1 < ie && a[is] == '0')
                is++;
            while (js + 1 < je && b[js] == '0')
                js++;
            size_t la = ie - is, lb = je - js;
            if (la != lb)
                return la < lb;
            int c = a.compare(is, la, b, js, lb);
            if (c != 0)
                return c < 0;
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j])
            return (unsigned char)a[i] < (unsigned char)b[j];
        i++;
        j++;
    }
    if (i < a.size() || j < b.size())
        return j < b.size();
    return a < b;
}

// The 8250 driver's placeholders report port type 0 (unknown). An entry
// without a readable type file is a real port of another driver.
static bool ports_is_placeholder(const std::string &entry)
{
    std::string path = entry + "/type";
    FILE *f = fopen(path.c_str(), "r");
    if (f == nullptr)
        return false;
    char buf[32];
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = '\0';
    char *end = nullptr;
    long type = strtol(buf, &end, 10);
    return end != buf && type == 0;
}

bool PlatEnumSerialPorts(std::vector<std::string> &names, const char **failedCall)
{
    std::string dir = ports_root + "/class/tty";
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
        PlatSetLastErrorFromErrno(errno);
        if (failedCall != nullptr)
            *failedCall = "opendir";
        return false;
    }
    std::vector<std::string> found;
    for (;;) {
        errno = 0;
        struct dirent *e = readdir(d);
        if (e == nullptr) {
            if (errno != 0) {
                int err = errno;
                closedir(d);
                PlatSetLastErrorFromErrno(err);
                if (failedCall != nullptr)
                    *failedCall = "readdir";
                return false;
            }
            break;
        }
        if (e->d_name[0] == '.')
            continue;
        std::string entry = dir + "/" + e->d_name;
        struct stat st;
        if (lstat((entry + "/device").c_str(), &st) != 0)
            continue;
        if (ports_is_placeholder(entry))
            continue;
        found.push_back(e->d_name);
    }
    closedir(d);
    std::sort(found.begin(), found.end(), ports_natural_less);
    names.insert(names.end(), found.begin(), found.end());
    return true;
}

static std::string ports_link_dir = "/dev/serial/by-id";

void PlatSetPortLinkDir(const char *dir)
{
    ports_link_dir = (dir != nullptr && dir[0] != '\0') ? dir : "/dev/serial/by-id";
}

// The first line of a small sysfs file, or "".
static std::string ports_read_line(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "r");
    if (f == nullptr)
        return "";
    char buf[256];
    std::string text;
    if (fgets(buf, sizeof buf, f) != nullptr)
        text = buf;
    fclose(f);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The last part of the path a link points to, or "".
static std::string ports_link_name(const std::string &link)
{
    char buf[PATH_MAX];
    ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return "";
    buf[n] = '\0';
    const char *slash = strrchr(buf, '/');
    return slash != nullptr ? slash + 1 : buf;
}

void PlatDescribePort(const std::string &name, PlatPortDetails &details)
{
    details = PlatPortDetails();
    std::string entry = ports_root + "/class/tty/" + name;
    char resolved[PATH_MAX];
    if (realpath((entry + "/device").c_str(), resolved) == nullptr || ports_is_placeholder(entry))
        return;
    details.present = true;
    // ftdi_sio's own attribute; other drivers have none.
    std::string latency = ports_read_line(entry + "/device/latency_timer");
    if (!latency.empty() && latency.find_first_not_of("0123456789") == std::string::npos &&
        latency.size() < 6)
        details.latencyTimerMs = atoi(latency.c_str());

    // Up from the device: the first driver that is not the serial core's
    // own port layer, and the USB device with its ids and strings.
    std::string dir = resolved;
    std::string top = ports_root + "/devices";
    char rootResolved[PATH_MAX];
    if (realpath(top.c_str(), rootResolved) != nullptr)
        top = rootResolved;
    while (dir.size() > top.size() && dir.compare(0, top.size(), top) == 0) {
        if (details.driver.empty() && ports_link_name(dir + "/subsystem") != "serial-base")
            details.driver = ports_link_name(dir + "/driver");
        std::string vendor = ports_read_line(dir + "/idVendor");
        if (!vendor.empty()) {
            details.usbVendorId = vendor;
            details.usbProductId = ports_read_line(dir + "/idProduct");
            details.manufacturer = ports_read_line(dir + "/manufacturer");
            details.product = ports_read_line(dir + "/product");
            details.serialNumber = ports_read_line(dir + "/serial");
            break;
        }
        dir.erase(dir.rfind('/'));
    }

    DIR *d = opendir(ports_link_dir.c_str());
    if (d == nullptr)
        return;
    std::vector<std::string> links;
    while (struct dirent *e = readdir(d)) {
        if (e->d_name[0] != '.' && ports_link_name(ports_link_dir + "/" + e->d_name) == name)
            links.push_back(ports_link_dir + "/" + e->d_name);
    }
    closedir(d);
    if (!links.empty())
        details.stablePath = *std::min_element(links.begin(), links.end());
}
