#include "serial/setupdi_ports_win.h"

#include <cstring>

#include "serial/windows_api.h"
#include <setupapi.h>

namespace kinetra {

namespace {

/// The device setup class of serial and parallel ports, {4D36E978-E325-11CE-BFC1-08002BE10318}.
constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

/// Bytes read of each registry value and device property; longer ones are cut.
constexpr DWORD kValueBytes = 256;

/// Port names of parallel ports contain this; they are never listed.
constexpr const char* kParallelPortMark = "LPT";

/// The value "PortName" of the device's hardware key; false when it has none.
bool readPortName(HDEVINFO devices, SP_DEVINFO_DATA& device, std::string& port) {
    HKEY key = ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return false;
    char buffer[kValueBytes] = {};
    DWORD size = sizeof(buffer);
    DWORD type = 0;
    const LONG status =
        ::RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    port = registryString(buffer, size);
    return !port.empty();
}

/// A string property of the device (friendly name, hardware id); empty when unreadable.
std::string readProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    char buffer[kValueBytes] = {};
    DWORD size = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(devices, &device, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                             sizeof(buffer), &size)) {
        return {};
    }
    return registryString(buffer, size);
}

}  // namespace

std::string registryString(const char* buffer, unsigned long size) {
    const std::size_t length = ::strnlen(buffer, size);
    return std::string(buffer, length);
}

std::vector<serial::PortInfo> listSetupDiPorts() {
    std::vector<serial::PortInfo> ports;
    HDEVINFO devices = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        serial::PortInfo info;
        if (!readPortName(devices, device, info.port)) continue;
        if (info.port.find(kParallelPortMark) != std::string::npos) continue;
        info.description = readProperty(devices, device, SPDRP_FRIENDLYNAME);
        info.hardware_id = readProperty(devices, device, SPDRP_HARDWAREID);
        ports.push_back(std::move(info));
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

}  // namespace kinetra
