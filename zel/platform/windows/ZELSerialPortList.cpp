#include <windows.h>

#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include "zel/platform/windows/ZELWindowsSerialPorts.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cwchar>
#include <set>

namespace ZELPlatform {

namespace {

// The system's GUIDs, spelt out here so that no header has to define them for this file alone.
constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kModemClass = {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
// What the USB hub driver read from the adapter's product string.
constexpr DEVPROPKEY kBusReportedDeviceDesc = {
    {0x540B947E, 0x8B40, 0x45BC, {0xA8, 0xA2, 0x6A, 0x0B, 0x89, 0x4C, 0xBD, 0xA2}}, 4};

std::string Narrow(const wchar_t* text, std::size_t length)
{
    if (length == 0)
        return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

// A string value as the registry or SetupAPI gives it: maybe without its terminator, and for a
// multi-string the first of its strings.
std::string FromBuffer(const std::wstring& buffer, DWORD bytes)
{
    std::size_t length = std::min<std::size_t>(bytes / sizeof(wchar_t), buffer.size());
    const std::size_t end = buffer.find(L'\0');
    if (end != std::wstring::npos)
        length = std::min(length, end);
    return Narrow(buffer.data(), length);
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string RegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    std::wstring buffer(512, L'\0');
    DWORD type = 0;
    DWORD size = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(buffer.data()),
            static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), &size)
        || (type != REG_SZ && type != REG_MULTI_SZ))
        return {};
    return FromBuffer(buffer, size);
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& key)
{
    std::wstring buffer(512, L'\0');
    DEVPROPTYPE type = 0;
    DWORD size = 0;
    if (!::SetupDiGetDevicePropertyW(set, &device, &key, &type, reinterpret_cast<BYTE*>(buffer.data()),
            static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), &size, 0)
        || type != DEVPROP_TYPE_STRING)
        return {};
    return FromBuffer(buffer, size);
}

// The COM name the port driver registered for the device ("COM3"); empty for a printer port or a
// device without one.
std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    std::wstring buffer(64, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    const LONG result =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    ::RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return {};
    const std::string name = FromBuffer(buffer, size);
    return ComPortNumber(name) != 0 ? Upper(name) : std::string();
}

std::string InstanceIdOf(DEVINST instance)
{
    wchar_t buffer[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Device_IDW(instance, buffer, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return {};
    return Narrow(buffer, std::wcslen(buffer));
}

// The adapter's serial number from the USB device the port hangs off: the port itself, or the USB
// device above a composite device's interface or above a vendor's own bus driver.
std::string UsbSerialAbove(DEVINST instance)
{
    for (int level = 0; level < 4; ++level) {
        const std::string id = InstanceIdOf(instance);
        const std::string serial = UsbSerialNumberOf(id);
        if (!serial.empty())
            return serial;
        DEVINST parent = 0;
        if (::CM_Get_Parent(&parent, instance, 0) != CR_SUCCESS)
            return {};
        instance = parent;
    }
    return {};
}

void AddDeviceManagerPorts(
    const GUID& guid, DWORD flags, std::vector<SerialPortInfo>& ports, std::set<std::string>& seen)
{
    const HDEVINFO set = ::SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        SerialPortInfo info;
        info.name = PortNameOf(set, device);
        if (info.name.empty() || !seen.insert(info.name).second)
            continue;
        info.path = info.name;
        std::string friendly = RegistryProperty(set, device, SPDRP_FRIENDLYNAME);
        if (friendly.empty())
            friendly = RegistryProperty(set, device, SPDRP_DEVICEDESC);
        info.description = WithoutPortSuffix(friendly, info.name);
        info.driver = RegistryProperty(set, device, SPDRP_SERVICE);
        info.manufacturer = RegistryProperty(set, device, SPDRP_MFG);
        info.product = DeviceProperty(set, device, kBusReportedDeviceDesc);
        ParseUsbIds(RegistryProperty(set, device, SPDRP_HARDWAREID), info);
        if (info.usbId.empty())
            ParseUsbIds(InstanceIdOf(device.DevInst), info);
        if (!info.usbId.empty())
            info.serial = UsbSerialAbove(device.DevInst);
        if (info.description.empty())
            info.description = info.driver;
        ports.push_back(std::move(info));
    }
    ::SetupDiDestroyDeviceInfoList(set);
}

// The registry's list of active ports: value names are the kernel's device objects
// ("\Device\Serial0", "\Device\VCP0"), their data the COM names.
void AddRegistryPorts(std::vector<SerialPortInfo>& ports, std::set<std::string>& seen)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        std::wstring valueName(256, L'\0');
        std::wstring data(64, L'\0');
        DWORD nameLength = static_cast<DWORD>(valueName.size());
        DWORD dataSize = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        const LONG result = ::RegEnumValueW(key, index, valueName.data(), &nameLength, nullptr, &type,
            reinterpret_cast<BYTE*>(data.data()), &dataSize);
        if (result == ERROR_MORE_DATA)
            continue; // not a port name
        if (result != ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        SerialPortInfo info;
        info.name = Upper(FromBuffer(data, dataSize));
        if (ComPortNumber(info.name) == 0 || !seen.insert(info.name).second)
            continue;
        info.path = info.name;
        // The device object's name without its number is the nearest thing to a driver name here.
        std::string object = Narrow(valueName.data(), nameLength);
        object = object.substr(object.find_last_of('\\') + 1);
        while (!object.empty() && std::isdigit(static_cast<unsigned char>(object.back())))
            object.pop_back();
        info.driver = object;
        info.description = object;
        ports.push_back(std::move(info));
    }
    ::RegCloseKey(key);
}

} // namespace

void ParseUsbIds(const std::string& deviceId, SerialPortInfo& info)
{
    const std::string id = Upper(deviceId);
    const auto hexAfter = [&id](const char* tag) -> std::string {
        const std::size_t at = id.find(tag);
        if (at == std::string::npos || at + 8 > id.size())
            return {};
        const std::string digits = id.substr(at + 4, 4);
        if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isxdigit(c) != 0; }))
            return {};
        return Lower(digits);
    };
    const std::string vendor = hexAfter("VID_");
    const std::string product = hexAfter("PID_");
    if (vendor.empty() || product.empty())
        return;
    info.vendorId = vendor;
    info.productId = product;
    info.usbId = vendor + ":" + product;
}

std::string UsbSerialNumberOf(const std::string& instanceId)
{
    // USB\<ids>\<serial or an id of Windows' own>
    if (Upper(instanceId.substr(0, 4)) != "USB\\")
        return {};
    const std::size_t second = instanceId.find('\\', 4);
    if (second == std::string::npos)
        return {};
    const std::string ids = Upper(instanceId.substr(4, second - 4));
    const std::string last = instanceId.substr(second + 1);
    if (ids.find("&MI_") != std::string::npos || last.empty() || last.find('&') != std::string::npos
        || last.find('\\') != std::string::npos)
        return {};
    return last;
}

unsigned int ComPortNumber(const std::string& name)
{
    if (name.size() < 4 || name.size() > 12 || Upper(name.substr(0, 3)) != "COM"
        || !std::all_of(name.begin() + 3, name.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return 0;
    return static_cast<unsigned int>(std::strtoul(name.c_str() + 3, nullptr, 10));
}

void SortSerialPorts(std::vector<SerialPortInfo>& ports)
{
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        const unsigned int left = ComPortNumber(a.name);
        const unsigned int right = ComPortNumber(b.name);
        if ((left == 0) != (right == 0))
            return left != 0;
        if (left != right)
            return left < right;
        return a.name < b.name;
    });
}

std::string WithoutPortSuffix(const std::string& friendlyName, const std::string& portName)
{
    const std::string suffix = " (" + portName + ")";
    if (friendlyName.size() > suffix.size()
        && Upper(friendlyName.substr(friendlyName.size() - suffix.size())) == Upper(suffix))
        return friendlyName.substr(0, friendlyName.size() - suffix.size());
    return friendlyName;
}

std::vector<SerialPortInfo> ListSerialPorts()
{
    std::vector<SerialPortInfo> ports;
    std::set<std::string> seen;
    AddDeviceManagerPorts(kPortsClass, DIGCF_PRESENT, ports, seen);
    // A USB modem or a phone's serial interface is listed as a modem, with a port name of its own.
    AddDeviceManagerPorts(kModemClass, DIGCF_PRESENT, ports, seen);
    AddDeviceManagerPorts(kComPortInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, ports, seen);
    AddRegistryPorts(ports, seen);
    SortSerialPorts(ports);
    return ports;
}

} // namespace ZELPlatform
