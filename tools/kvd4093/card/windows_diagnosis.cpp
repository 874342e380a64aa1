#include "card/windows_diagnosis.h"

#if defined(_WIN32)
#include <windows.h>
#include <setupapi.h>
#endif

namespace kvd::tool {

#if defined(_WIN32)
namespace {

// The class the library enumerates: {6B1D4093-2F7A-4C55-9E13-A0C4D7E25B18}.
constexpr GUID kCardClass{0x6B1D4093, 0x2F7A, 0x4C55, {0x9E, 0x13, 0xA0, 0xC4, 0xD7, 0xE2, 0x5B, 0x18}};

std::string devicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA &member, SP_DEVINFO_DATA &device) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &member, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return {};
    std::string buffer(size, '\0');
    auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &member, detail, size, nullptr, &device))
        return {};
    return detail->DevicePath;
}

std::string serviceOf(HDEVINFO set, SP_DEVINFO_DATA &device) {
    char name[256] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr, reinterpret_cast<BYTE *>(name),
                                           sizeof name - 1, nullptr))
        return {};
    return name;
}

std::string stateText(DWORD state) {
    switch (state) {
    case SERVICE_RUNNING: return "running";
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "starting";
    case SERVICE_STOP_PENDING: return "stopping";
    case SERVICE_PAUSED: return "paused";
    default: return "in state " + std::to_string(state);
    }
}

} // namespace

std::vector<CardInterface> cardInterfaces() {
    std::vector<CardInterface> interfaces;
    GUID classId = kCardClass;
    const HDEVINFO set = SetupDiGetClassDevsA(&classId, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return interfaces;
    SP_DEVICE_INTERFACE_DATA member{};
    member.cbSize = sizeof member;
    for (DWORD n = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &classId, n, &member); ++n) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        const std::string path = devicePath(set, member, device);
        interfaces.push_back({path, path.empty() ? std::string() : serviceOf(set, device)});
    }
    SetupDiDestroyDeviceInfoList(set);
    return interfaces;
}

ServiceState serviceState(const std::string &service) {
    ServiceState state;
    state.text = "not installed";
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        state.text = "unknown (the service manager does not answer: error " + std::to_string(GetLastError()) + ")";
        return state;
    }
    if (SC_HANDLE handle = OpenServiceA(manager, service.c_str(), SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status{};
        state.installed = true;
        if (QueryServiceStatus(handle, &status)) {
            state.running = status.dwCurrentState == SERVICE_RUNNING;
            state.text = stateText(status.dwCurrentState);
        } else {
            state.text = "unknown (error " + std::to_string(GetLastError()) + ")";
        }
        CloseServiceHandle(handle);
    } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
        state.text = "unknown (error " + std::to_string(GetLastError()) + ")";
    }
    CloseServiceHandle(manager);
    return state;
}

#else

std::vector<CardInterface> cardInterfaces() { return {}; }
ServiceState serviceState(const std::string &) { return {}; }

#endif

} // namespace kvd::tool
