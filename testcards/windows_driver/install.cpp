// kvd4093card.exe: installs the software card driver in this Windows (or
// Wine prefix) with cards of the physical IDs given, or removes it again.
//
//   kvd4093card install 7,9,5   cards with physical IDs 7, 9, 5 at logical numbers 0, 1, 2
//   kvd4093card remove          the driver stopped and deleted, the cards' entries gone
//
// The driver (kvd4093card.sys, beside this program) becomes a kernel-driver
// service that starts with the system, so the cards are back whenever the
// system (or Wine) starts again. Each card gets the registry entries that the
// setup enumeration lists as a present interface of the card's class.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "card_names.h"

namespace {

namespace names = kvd::testcard;

constexpr char kServicesKey[] = "System\\CurrentControlSet\\Services\\";
constexpr char kDeviceClassesKey[] = "System\\CurrentControlSet\\Control\\DeviceClasses\\";
constexpr char kEnumKey[] = "System\\CurrentControlSet\\Enum\\ROOT\\KVD4093";
constexpr char kClassUpper[] = "{6B1D4093-2F7A-4C55-9E13-A0C4D7E25B18}";
constexpr DWORD kWaitMilliseconds = 15000;

std::string cardNumber(size_t n) {
    char text[8];
    std::snprintf(text, sizeof text, "%04u", unsigned(n));
    return text;
}
// ROOT#KVD4093#0000#{class}: the interface's reference in names and links.
std::string interfaceName(size_t n) { return names::kDeviceIdPrefix + cardNumber(n) + "#" + names::kClassText; }
std::string interfaceKey(size_t n) {
    return std::string(kDeviceClassesKey) + names::kClassText + "\\##?#" + interfaceName(n);
}

bool setValue(const std::string &key, const char *name, DWORD type, const void *data, DWORD size) {
    const LSTATUS status = RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, type, data, size);
    if (status != ERROR_SUCCESS)
        std::fprintf(stderr, "kvd4093card: cannot write HKLM\\%s\\%s (error %ld)\n", key.c_str(), name, long(status));
    return status == ERROR_SUCCESS;
}
bool setText(const std::string &key, const char *name, const std::string &text) {
    return setValue(key, name, REG_SZ, text.c_str(), DWORD(text.size() + 1));
}

// The entries that make card n a present interface of the card's class,
// whose device names the driver's service as an installed driver's does.
bool writeInterface(size_t n) {
    const std::string instance = "ROOT\\KVD4093\\" + cardNumber(n);
    const DWORD linked = 1;
    return setText(interfaceKey(n), "DeviceInstance", instance) &&
           setText(interfaceKey(n) + "\\#", "SymbolicLink", "\\\\?\\" + interfaceName(n)) &&
           setValue(interfaceKey(n) + "\\#\\Control", "Linked", REG_DWORD, &linked, sizeof linked) &&
           setText(std::string(kEnumKey) + "\\" + cardNumber(n), "ClassGUID", kClassUpper) &&
           setText(std::string(kEnumKey) + "\\" + cardNumber(n), "Service", names::kServiceName);
}

void removeInterfaces() {
    const std::string classKey = std::string(kDeviceClassesKey) + names::kClassText;
    for (size_t n = 0; n < names::kMaxCards; ++n)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, interfaceKey(n).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, classKey.c_str()); // only when nothing else is left in it
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kEnumKey);
}

bool waitForState(SC_HANDLE service, DWORD state) {
    for (DWORD waited = 0; waited < kWaitMilliseconds; waited += 50) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == state)
            return true;
        Sleep(50);
    }
    return false;
}

// Stops and deletes the service if it exists; true when none is left.
bool removeService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, names::kServiceName, SERVICE_ALL_ACCESS);
    if (service == nullptr)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status))
        waitForState(service, SERVICE_STOPPED);
    const bool deleted = DeleteService(service) != 0;
    if (!deleted)
        std::fprintf(stderr, "kvd4093card: cannot delete the service (error %lu)\n", GetLastError());
    CloseServiceHandle(service);
    return deleted;
}

bool remove(SC_HANDLE manager) {
    const bool removed = removeService(manager);
    removeInterfaces();
    return removed;
}

// Physical IDs from "7,9,5": 1 to 32 numbers of 0 to 255.
bool parseIds(const char *text, std::vector<uint8_t> *ids) {
    for (const char *at = text;;) {
        char *end = nullptr;
        const long id = std::strtol(at, &end, 10);
        if (end == at || id < 0 || id > 255 || ids->size() == names::kMaxCards)
            return false;
        ids->push_back(uint8_t(id));
        if (*end == 0)
            return true;
        if (*end != ',')
            return false;
        at = end + 1;
    }
}

std::string driverPath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path, length);
    return text.substr(0, text.find_last_of("\\/") + 1) + "kvd4093card.sys";
}

// The driver has made its devices when every card's interface opens.
bool waitForCards(size_t count) {
    for (DWORD waited = 0; waited < kWaitMilliseconds; waited += 50) {
        size_t open = 0;
        for (size_t n = 0; n < count; ++n) {
            const HANDLE file = CreateFileA(("\\\\?\\" + interfaceName(n)).c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
                ++open;
            }
        }
        if (open == count)
            return true;
        Sleep(50);
    }
    return false;
}

bool install(SC_HANDLE manager, const std::vector<uint8_t> &ids) {
    if (!remove(manager))
        return false;
    const std::string path = driverPath();
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "kvd4093card: %s is missing\n", path.c_str());
        return false;
    }
    SC_HANDLE service = CreateServiceA(manager, names::kServiceName, "KVD4093 software card", SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, path.c_str(),
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) {
        std::fprintf(stderr, "kvd4093card: cannot create the service (error %lu)\n", GetLastError());
        return false;
    }
    bool done = setValue(kServicesKey + std::string(names::kServiceName), names::kPhysicalIdsValue, REG_BINARY,
                         ids.data(), DWORD(ids.size()));
    for (size_t n = 0; done && n < ids.size(); ++n)
        done = writeInterface(n);
    if (done && !StartServiceA(service, 0, nullptr)) {
        std::fprintf(stderr, "kvd4093card: cannot start the driver (error %lu)\n", GetLastError());
        done = false;
    }
    if (done && !waitForCards(ids.size())) {
        std::fprintf(stderr, "kvd4093card: the driver started but its cards do not open\n");
        done = false;
    }
    CloseServiceHandle(service);
    if (!done)
        remove(manager);
    return done;
}

int usage() {
    std::fprintf(stderr, "usage: kvd4093card install ID[,ID...]   (physical IDs 0 to 255, up to 32 cards)\n"
                         "       kvd4093card remove\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<uint8_t> ids;
    const bool installing = argc == 3 && std::strcmp(argv[1], "install") == 0;
    if (installing ? !parseIds(argv[2], &ids) : !(argc == 2 && std::strcmp(argv[1], "remove") == 0))
        return usage();
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        std::fprintf(stderr, "kvd4093card: cannot open the service manager (error %lu)\n", GetLastError());
        return 1;
    }
    const bool done = installing ? install(manager, ids) : remove(manager);
    CloseServiceHandle(manager);
    if (done && installing) {
        for (size_t n = 0; n < ids.size(); ++n)
            std::printf("card %zu: physical ID %u\n", n, unsigned(ids[n]));
    }
    return done ? 0 : 1;
}
