// What mirdel-cli ports tells of each port, read from a fake sysfs tree and
// a fake directory of stable links.
#include "core/startup.h"
#include "platform/ports.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace
{

void Write(const fs::path &file, const std::string &text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

void Link(const fs::path &link, const fs::path &target)
{
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

} // namespace

TEST(PortDetails, DriverUsbIdsAndStableLink)
{
    char tmpl[] = "/tmp/mirdel-ports-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    fs::path root = tmpl, sys = root / "sys", tty = sys / "class/tty", dev = sys / "devices";
    // A USB adapter: interface, then the usb-serial port with its driver.
    fs::path usb = dev / "pci0000:00/usb1/1-2";
    Write(usb / "idVendor", "0403");
    Write(usb / "idProduct", "6001");
    Write(usb / "manufacturer", "FTDI");
    Write(usb / "product", "FT232R USB UART");
    Write(usb / "serial", "A10K1234");
    Link(usb / "1-2:1.0/ttyUSB0/driver", root / "bus/usb-serial/drivers/ftdi_sio");
    Write(usb / "1-2:1.0/ttyUSB0/latency_timer", "16");
    Link(tty / "ttyUSB0/device", usb / "1-2:1.0/ttyUSB0");
    Link(root / "by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0", "../../ttyUSB0");
    // A modem-class adapter whose maker is not repeated, and has no serial.
    fs::path acm = dev / "pci0000:00/usb1/1-3";
    Write(acm / "idVendor", "2341");
    Write(acm / "idProduct", "0043");
    Write(acm / "manufacturer", "Arduino");
    Write(acm / "product", "Arduino Uno");
    Link(acm / "1-3:1.0/driver", root / "bus/usb/drivers/cdc_acm");
    Link(tty / "ttyACM0/device", acm / "1-3:1.0");
    // A real UART under the serial core's port layer, and a placeholder.
    fs::path pnp = dev / "pnp0/00:01";
    Link(pnp / "driver", root / "bus/pnp/drivers/serial");
    Link(pnp / "00:01:0/00:01:0.0/subsystem", root / "bus/serial-base");
    Link(pnp / "00:01:0/00:01:0.0/driver", root / "bus/serial-base/drivers/port");
    Link(tty / "ttyS0/device", pnp / "00:01:0/00:01:0.0");
    Write(tty / "ttyS0/type", "4");
    Link(tty / "ttyS1/device", dev / "platform/serial8250");
    Write(tty / "ttyS1/type", "0");

    PlatSetPortListRoot(sys.c_str());
    PlatSetPortLinkDir((root / "by-id").c_str());
    const struct {
        const char *name;
        const char *about;
        std::string stable, latency;
    } cases[] = {
        {"ttyUSB0", "ftdi_sio, USB 0403:6001 FTDI FT232R USB UART, serial A10K1234",
         (root / "by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0").string(),
         "latency timer 16 ms; " STARTUP_LATENCY_ADVICE},
        {"ttyACM0", "cdc_acm, USB 2341:0043 Arduino Uno", "", ""},
        {"ttyS0", "serial", "", ""},
        {"ttyS1", "", "", ""}, // the UART type is unknown: no port
        {"ttyS9", "", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        StartupPortAbout about = StartupDescribePort(c.name);
        EXPECT_EQ(about.description, c.about);
        EXPECT_EQ(about.stableLink, c.stable);
        EXPECT_EQ(about.latency, c.latency);
    }
    // What the text tells, as JSON.
    EXPECT_EQ(StartupPortJson("ttyUSB0"),
              R"({"port":"ttyUSB0","present":true,"description":")" + std::string(cases[0].about) +
                  R"(","driver":"ftdi_sio","usb_vendor_id":"0403","usb_product_id":"6001",)"
                  R"("manufacturer":"FTDI","product":"FT232R USB UART","serial_number":"A10K1234",)"
                  R"("stable_link":")" +
                  cases[0].stable +
                  R"(","latency_timer_ms":16,"latency_advice":")" STARTUP_LATENCY_ADVICE R"("})");
    PlatSetPortListRoot(nullptr);
    PlatSetPortLinkDir(nullptr);
    fs::remove_all(root);
}
