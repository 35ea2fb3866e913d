// The Linux port list against a sysfs and a procfs made in a temporary
// folder, laid out as the kernel lays them out (links included).
#include "port_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class FakeSystem {
public:
    FakeSystem()
    {
        char pattern[] = "/tmp/atcmd-sysfs-XXXXXX";
        root_ = mkdtemp(pattern);
    }
    ~FakeSystem() { fs::remove_all(root_); }

    // An attribute file (folders made on the way).
    void File(const std::string &path, const std::string &text)
    {
        fs::create_directories(fs::path(root_ + path).parent_path());
        std::ofstream(root_ + path) << text << "\n";
    }
    // A relative link, as sysfs has them.
    void Link(const std::string &path, const std::string &target)
    {
        fs::create_directories(fs::path(root_ + path).parent_path());
        fs::create_directories(root_ + target);
        fs::create_symlink(fs::relative(root_ + target, fs::path(root_ + path).parent_path()), root_ + path);
    }
    // A tty under `deviceDir`: its class link, `dev`, and the link to its device.
    void Tty(const std::string &name, const std::string &deviceDir, const std::string &dev)
    {
        std::string ttyDir = deviceDir + "/tty/" + name;
        File("/sys" + ttyDir + "/dev", dev);
        Link("/sys" + ttyDir + "/device", "/sys" + deviceDir);
        Link("/sys/class/tty/" + name, "/sys" + ttyDir);
    }
    SystemRoots Roots() const { return {root_ + "/sys", root_ + "/proc"}; }

private:
    std::string root_;
};

struct Expected {
    const char *name;
    const char *description;
    const char *identity;
    bool mayProbe;
};

TEST(ListTtyPorts, EveryTtyWithHardwareNamedByDriverAndInterface)
{
    FakeSystem sys;
    const std::string usb = "/devices/pci0000:00/usb1/1-1";
    sys.File("/sys" + usb + "/idVendor", "05c6");
    sys.File("/sys" + usb + "/idProduct", "9205");
    sys.File("/sys" + usb + "/manufacturer", "Acme");
    sys.File("/sys" + usb + "/product", "Gobi Modem");
    // cdc_acm: the tty's device is the interface.
    sys.File("/sys" + usb + "/1-1:1.0/bInterfaceNumber", "00");
    sys.Link("/sys" + usb + "/1-1:1.0/driver", "/sys/bus/usb/drivers/cdc_acm");
    sys.Tty("ttyACM0", usb + "/1-1:1.0", "166:0");
    // usb-serial: a port device of its own below the interface.
    for (const char *port : {"2", "3"}) {
        std::string interface = usb + "/1-1:1." + port;
        std::string name = std::string("ttyUSB") + port;
        sys.File("/sys" + interface + "/bInterfaceNumber", std::string("0") + port);
        sys.Link("/sys" + interface + "/" + name + "/driver", "/sys/bus/usb-serial/drivers/qcserial");
        sys.Tty(name, interface + "/" + name, std::string("188:") + port);
    }
    // A UART behind serial_core's own port and controller devices (Linux 6.5 on).
    const std::string uart = "/devices/pnp0/00:01";
    sys.Link("/sys" + uart + "/driver", "/sys/bus/pnp/drivers/serial");
    for (const char *level : {"/00:01:0", "/00:01:0/00:01:0.0"})
        sys.Link("/sys" + uart + level + "/subsystem", "/sys/bus/serial-base");
    sys.Tty("ttyS0", uart + "/00:01:0/00:01:0.0", "4:64");
    sys.File("/sys" + uart + "/00:01:0/00:01:0.0/tty/ttyS0/type", "4");
    sys.File("/sys" + uart + "/00:01:0/00:01:0.0/tty/ttyS0/port", "0x3F8");
    sys.File("/sys" + uart + "/00:01:0/00:01:0.0/tty/ttyS0/irq", "4");
    // A legacy port with no UART behind it (type 0, "unknown").
    sys.Link("/sys/devices/platform/serial8250/driver", "/sys/bus/platform/drivers/serial8250");
    sys.Tty("ttyS3", "/devices/platform/serial8250", "4:67");
    sys.File("/sys/devices/platform/serial8250/tty/ttyS3/type", "0");
    // A device name with a folder in it, as sysfs spells it.
    sys.Link("/sys/devices/platform/soc/uart1/driver", "/sys/bus/platform/drivers/acme-uart");
    sys.Tty("tts!1", "/devices/platform/soc/uart1", "204:65");
    // A virtual console: no device.
    sys.File("/sys/devices/virtual/tty/tty1/dev", "4:1");
    sys.Link("/sys/class/tty/tty1", "/sys/devices/virtual/tty/tty1");
    sys.File("/sys/class/tty/console/active", "tty0 ttyS0");
    // getty's controlling terminal is ttyUSB3 (188:3), as /proc encodes it;
    // a command name with spaces and parentheses does not shift the fields.
    sys.File("/proc/1/stat", "1 (init) S 0 1 1 0 -1 4194560");
    sys.File("/proc/42/stat", "42 (get ty) (x) S 1 42 42 48131 42 4194560");

    std::vector<SystemSerialPort> ports = ListTtyPorts(sys.Roots());
    std::sort(ports.begin(), ports.end(),
              [](const SystemSerialPort &a, const SystemSerialPort &b) { return a.name < b.name; });
    const Expected expected[] = {
        {"/dev/tts/1", "acme-uart", "acme-uart uart1", true},
        {"/dev/ttyACM0", "Acme Gobi Modem", "05c6:9205 if00 cdc_acm", true},
        {"/dev/ttyS0", "serial", "serial 00:01 port 0x3F8 irq 4", false},
        {"/dev/ttyUSB2", "Acme Gobi Modem", "05c6:9205 if02 qcserial", true},
        {"/dev/ttyUSB3", "Acme Gobi Modem", "05c6:9205 if03 qcserial", false},
    };
    ASSERT_EQ(ports.size(), std::size(expected));
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].name, expected[i].name);
        EXPECT_EQ(ports[i].description, expected[i].description) << expected[i].name;
        EXPECT_EQ(ports[i].identity, expected[i].identity) << expected[i].name;
        EXPECT_EQ(ports[i].mayProbe, expected[i].mayProbe) << expected[i].name;
    }
}

TEST(ListTtyPorts, NoSysfsNoPorts)
{
    EXPECT_TRUE(ListTtyPorts({"/nonexistent/sys", "/nonexistent/proc"}).empty());
}

}  // namespace
