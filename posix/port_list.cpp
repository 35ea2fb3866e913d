// ListSystemSerialPorts on Linux: sysfs read directly. libudev would add a
// library to a program that needs only the C library, and its database is
// filled by a udev daemon that a minimal system (an initramfs, a container)
// does not run; the strings it would give (vendor, model, interface, driver)
// are sysfs attributes anyway.
#include "port_list.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};
using DirGuard = std::unique_ptr<DIR, DirCloser>;

using DeviceNumber = std::pair<unsigned, unsigned>;  // major, minor

// The first line of a sysfs attribute; empty when there is none.
std::string Attribute(const std::string &path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string LastComponent(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name a symbolic link points to (a device's driver); empty without one.
std::string LinkTarget(const std::string &path)
{
    char target[PATH_MAX];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length <= 0 ? std::string() : LastComponent(std::string(target, static_cast<size_t>(length)));
}

std::string Resolved(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) == nullptr ? std::string() : resolved;
}

bool Exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// The USB interface a tty's device is or sits on (usb-serial puts a port
// device of its own below the interface); empty for other buses.
std::string UsbInterfaceOf(const std::string &device)
{
    std::string dir = device;
    for (int level = 0; level < 2 && !dir.empty(); ++level) {
        if (Exists(dir + "/bInterfaceNumber"))
            return dir;
        dir = dir.substr(0, dir.rfind('/'));
    }
    return std::string();
}

// The device that holds the port. Since Linux 6.5 serial_core puts a port
// and a controller device of its own ("serial-base" bus, drivers "port" and
// "ctrl") between a UART's tty and its hardware, which says more.
std::string HardwareOf(const std::string &device)
{
    std::string dir = device;
    while (LinkTarget(dir + "/subsystem") == "serial-base")
        dir = dir.substr(0, dir.rfind('/'));
    return dir;
}

// The terminals in the console's list (kernel names, e.g. "ttyS0").
std::set<std::string> ConsoleNames(const SystemRoots &roots)
{
    std::istringstream names(Attribute(roots.sys + "/class/tty/console/active"));
    std::set<std::string> consoles;
    for (std::string name; names >> name;)
        consoles.insert(name);
    return consoles;
}

// A process's controlling terminal from its stat line (tty_nr, the seventh
// field, in the kernel's encoding); {0, 0} for none.
DeviceNumber ControllingTerminalOf(const std::string &stat)
{
    size_t commandEnd = stat.rfind(')');
    int ttyNumber = 0;
    if (commandEnd == std::string::npos ||
        sscanf(stat.c_str() + commandEnd + 1, " %*c %*d %*d %*d %d", &ttyNumber) != 1)
        return {0, 0};
    unsigned number = static_cast<unsigned>(ttyNumber);
    return {(number >> 8) & 0xfffu, (number & 0xffu) | ((number >> 12) & 0xfff00u)};
}

// Every process's controlling terminal.
std::set<DeviceNumber> ControllingTerminals(const SystemRoots &roots)
{
    std::set<DeviceNumber> terminals;
    DirGuard processes(opendir(roots.proc.c_str()));
    if (processes == nullptr)
        return terminals;
    while (const dirent *entry = readdir(processes.get())) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        DeviceNumber terminal = ControllingTerminalOf(Attribute(roots.proc + "/" + entry->d_name + "/stat"));
        if (terminal != DeviceNumber{0, 0})
            terminals.insert(terminal);
    }
    return terminals;
}

DeviceNumber DeviceNumberOf(const std::string &tty)
{
    unsigned major = 0, minor = 0;
    if (sscanf(Attribute(tty + "/dev").c_str(), "%u:%u", &major, &minor) != 2)
        return {0, 0};
    return {major, minor};
}

// "2c7c:0125 if02 option", or for a port on another bus its driver, device
// and, for a UART, its I/O port and interrupt.
std::string IdentityOf(const std::string &tty, const std::string &device, const std::string &driver)
{
    std::string interface = UsbInterfaceOf(device);
    if (!interface.empty()) {
        std::string usbDevice = interface.substr(0, interface.rfind('/'));
        return Attribute(usbDevice + "/idVendor") + ":" + Attribute(usbDevice + "/idProduct") + " if" +
               Attribute(interface + "/bInterfaceNumber") + " " + driver;
    }
    std::string identity = driver + " " + LastComponent(device);
    if (Exists(tty + "/port"))
        identity += " port " + Attribute(tty + "/port") + " irq " + Attribute(tty + "/irq");
    return identity;
}

// The USB product's strings, or the driver when it has none.
std::string DescriptionOf(const std::string &device, const std::string &driver)
{
    std::string interface = UsbInterfaceOf(device);
    if (interface.empty())
        return driver;
    std::string usbDevice = interface.substr(0, interface.rfind('/'));
    std::string strings = Attribute(usbDevice + "/manufacturer");
    std::string product = Attribute(usbDevice + "/product");
    if (!strings.empty() && !product.empty())
        strings += " ";
    strings += product;
    return strings.empty() ? driver : strings;
}

// The tty's node: sysfs spells a "/" in a device name as "!".
std::string DeviceNode(std::string name)
{
    std::replace(name.begin(), name.end(), '!', '/');
    return "/dev/" + name;
}

}  // namespace

std::vector<SystemSerialPort> ListTtyPorts(const SystemRoots &roots)
{
    std::vector<SystemSerialPort> ports;
    const std::string ttys = roots.sys + "/class/tty";
    DirGuard entries(opendir(ttys.c_str()));
    if (entries == nullptr)
        return ports;
    const std::set<std::string> consoles = ConsoleNames(roots);
    const std::set<DeviceNumber> controlling = ControllingTerminals(roots);
    while (const dirent *entry = readdir(entries.get())) {
        const std::string name = entry->d_name;
        const std::string tty = ttys + "/" + name;
        std::string device = HardwareOf(Resolved(tty + "/device"));
        // serial_core's type 0 (PORT_UNKNOWN): a legacy port with no UART.
        if (name[0] == '.' || device.empty() || Attribute(tty + "/type") == "0")
            continue;
        std::string driver = LinkTarget(device + "/driver");
        bool reserved = consoles.count(name) > 0 || controlling.count(DeviceNumberOf(tty)) > 0;
        ports.push_back({DeviceNode(name), DescriptionOf(device, driver), IdentityOf(tty, device, driver), !reserved});
    }
    return ports;
}

std::vector<SystemSerialPort> ListSystemSerialPorts()
{
    return ListTtyPorts({"/sys", "/proc"});
}
