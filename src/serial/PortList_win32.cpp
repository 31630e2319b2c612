// The serial ports of a Windows computer: the device map's list and the friendly names of the
// Ports device class, both read from the registry, never by opening a port (an open would take
// a port from the program that has it, or wait on a modem).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// Comes after windows.h.
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "serial/PortList.h"
#include "serial/PortListOrder.h"

namespace tallyport {
namespace {

// The Ports device class (serial and parallel ports), {4d36e978-e325-11ce-bfc1-08002be10318}.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

constexpr char kDeviceMap[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Closes an open registry key when it goes out of scope.
class RegistryKey {
public:
    RegistryKey(HKEY parent, const std::string& path) {
        if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_QUERY_VALUE, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    explicit RegistryKey(HKEY key)
        : key_(key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE) ? nullptr : key) {}
    ~RegistryKey() {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// The text of a string value's data: up to its first NUL, since the registry does not promise
// one at the end.
std::string StringData(const std::vector<BYTE>& data, DWORD size) {
    const char* text = reinterpret_cast<const char*>(data.data());
    std::string value(text, std::min<std::size_t>(size, data.size()));
    if (const std::size_t nul = value.find('\0'); nul != std::string::npos)
        value.resize(nul);
    return value;
}

// The port names of a device map: the data of its string values (the value names are the
// drivers' device names, "\Device\Serial0").
std::vector<std::string> MappedPortNames(HKEY deviceMap) {
    std::vector<std::string> names;
    DWORD valueCount = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyA(deviceMap, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &valueCount, &longestName, &longestData, nullptr,
                         nullptr) != ERROR_SUCCESS) {
        return names;
    }
    std::vector<char> valueName(longestName + 1);
    std::vector<BYTE> data(longestData + 1);
    for (DWORD i = 0; i < valueCount; ++i) {
        DWORD nameSize = static_cast<DWORD>(valueName.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueA(deviceMap, i, valueName.data(), &nameSize, nullptr, &type, data.data(),
                          &dataSize) != ERROR_SUCCESS ||
            type != REG_SZ) {
            continue;
        }
        if (std::string name = StringData(data, dataSize); !name.empty())
            names.push_back(std::move(name));
    }
    return names;
}

// One text property of a device, or empty.
std::string DeviceText(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    std::vector<BYTE> data(512);
    DWORD type = 0;
    DWORD size = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, property, &type, data.data(),
                                           static_cast<DWORD>(data.size()), &size)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
            return {};
        data.resize(size);
        if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, property, &type, data.data(),
                                               static_cast<DWORD>(data.size()), &size)) {
            return {};
        }
    }
    return type == REG_SZ ? StringData(data, size) : std::string();
}

// The port name ("COM3") a Ports-class device has in its device key, or empty (a parallel
// port has "LPT1", which no COM name matches).
std::string DevicePortName(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    RegistryKey key(
        SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE));
    if (key.Get() == nullptr)
        return {};
    std::vector<BYTE> data(256);
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegQueryValueExA(key.Get(), "PortName", nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return StringData(data, size);
}

// The friendly names of the present Ports-class devices by their port names.
std::map<std::string, std::string> FriendlyNames() {
    std::map<std::string, std::string> names;
    HDEVINFO devices = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return names;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        const std::string port = DevicePortName(devices, device);
        if (port.empty())
            continue;
        std::string text = DeviceText(devices, device, SPDRP_FRIENDLYNAME);
        if (text.empty())
            text = DeviceText(devices, device, SPDRP_DEVICEDESC);
        if (!text.empty())
            names.emplace(port, std::move(text));
    }
    SetupDiDestroyDeviceInfoList(devices);
    return names;
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPortEntries(const std::string& root) {
    const bool system = root.empty();
    RegistryKey deviceMap(system ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                          system ? std::string(kDeviceMap) : root + "\\" + kDeviceMap);
    if (deviceMap.Get() == nullptr)
        return {};
    return OrderPortEntries(MappedPortNames(deviceMap.Get()),
                            system ? FriendlyNames() : std::map<std::string, std::string>());
}

}  // namespace tallyport
