// ListSystemSerialPorts on Windows: SetupAPI's present devices of the Ports
// and Modem classes, then the COM names in HARDWARE\DEVICEMAP\SERIALCOMM
// that no device node gave (a driver that registers a port without one).
// No COM port is anyone's console here: every one may be tried.
#include <windows.h>
#include <setupapi.h>

#include <cctype>
#include <string>
#include <vector>

#include "system_ports.h"

namespace {

// The setup classes, from devguid.h, spelled out so that no GUID library
// has to be linked for two constants.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kModemClass = {0x4d36e96d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

class DeviceList {
public:
    explicit DeviceList(const GUID &setupClass) : list_(SetupDiGetClassDevsA(&setupClass, NULL, NULL, DIGCF_PRESENT)) {}
    ~DeviceList()
    {
        if (list_ != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(list_);
    }
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;
    HDEVINFO get() const { return list_; }

private:
    HDEVINFO list_;
};

class RegistryKey {
public:
    explicit RegistryKey(HKEY key) : key_(key) {}
    ~RegistryKey()
    {
        if (key_ != NULL && key_ != INVALID_HANDLE_VALUE)
            RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    HKEY get() const { return key_ == INVALID_HANDLE_VALUE ? NULL : key_; }

private:
    HKEY key_;
};

// A string value of `key`; empty when it has none.
std::string RegistryString(HKEY key, const char *value)
{
    char text[256] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    if (key == NULL || RegQueryValueExA(key, value, NULL, &type, reinterpret_cast<BYTE *>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::string();
    return text;
}

// A device's string property (of a list of strings, the first).
std::string DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA &device, DWORD property)
{
    char text[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, property, NULL, reinterpret_cast<BYTE *>(text),
                                           sizeof text - 2, NULL))
        return std::string();
    return text;
}

// A port's COM name: the device key's PortName; a modem on a COM port has
// it in its driver key's AttachedTo.
std::string ComNameOf(HDEVINFO devices, SP_DEVINFO_DATA &device)
{
    RegistryKey deviceKey(SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ));
    std::string name = RegistryString(deviceKey.get(), "PortName");
    if (!name.empty())
        return name;
    RegistryKey driverKey(SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ));
    return RegistryString(driverKey.get(), "AttachedTo");
}

// "USB\VID_2C7C&PID_0125&REV_0318&MI_02" -> "USB\VID_2C7C&PID_0125&MI_02":
// the revision says nothing about which port it is.
std::string WithoutRevision(std::string hardwareId)
{
    size_t revision = hardwareId.find("&REV_");
    if (revision != std::string::npos)
        hardwareId.erase(revision, hardwareId.find('&', revision + 1) - revision);
    return hardwareId;
}

// COM1 to COM9 open by their names; a higher one only as \\.\COM10.
bool IsComName(const std::string &name)
{
    return name.size() > 3 && _strnicmp(name.c_str(), "COM", 3) == 0 && isdigit(static_cast<unsigned char>(name[3]));
}

std::string AsPortArgument(const std::string &comName)
{
    return comName.size() == 4 ? comName : "\\\\.\\" + comName;
}

bool Listed(const std::vector<SystemSerialPort> &ports, const std::string &comName)
{
    for (const SystemSerialPort &port : ports) {
        if (port.name == AsPortArgument(comName))
            return true;
    }
    return false;
}

void AddClass(const GUID &setupClass, std::vector<SystemSerialPort> &ports)
{
    DeviceList devices(setupClass);
    if (devices.get() == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices.get(), i, &device); ++i) {
        std::string comName = ComNameOf(devices.get(), device);
        if (!IsComName(comName) || Listed(ports, comName))  // LPT1 is a port too
            continue;
        ports.push_back({AsPortArgument(comName), DeviceProperty(devices.get(), device, SPDRP_FRIENDLYNAME),
                         WithoutRevision(DeviceProperty(devices.get(), device, SPDRP_HARDWAREID)), true});
    }
}

// The registry's list: value name the driver's device (\Device\Serial0),
// data the COM name.
void AddSerialComm(std::vector<SystemSerialPort> &ports)
{
    HKEY opened = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return;
    RegistryKey key(opened);
    for (DWORD i = 0;; ++i) {
        char device[256] = {};
        char comName[64] = {};
        DWORD deviceSize = sizeof device;
        DWORD comSize = sizeof comName - 1;
        DWORD type = 0;
        if (RegEnumValueA(key.get(), i, device, &deviceSize, NULL, &type, reinterpret_cast<BYTE *>(comName),
                          &comSize) != ERROR_SUCCESS)
            return;
        if (type == REG_SZ && IsComName(comName) && !Listed(ports, comName))
            ports.push_back({AsPortArgument(comName), device, "SERIALCOMM", true});
    }
}

}  // namespace

std::vector<SystemSerialPort> ListSystemSerialPorts()
{
    std::vector<SystemSerialPort> ports;
    AddClass(kPortsClass, ports);
    AddClass(kModemClass, ports);
    AddSerialComm(ports);
    return ports;
}
