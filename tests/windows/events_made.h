// Counts the kernel events a test program makes: while an EventsMade lives,
// the program's calls to the event constructors go through counting
// stand-ins, by way of its import table (the library's code is linked into
// the program, so its calls go there too).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

namespace kvd::testing {

// The entry of this program's import table through which it calls an
// imported function by name; nullptr when it imports no such function.
inline void **importEntry(const char *function) {
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    const LONG headers = reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew;
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + headers);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); module->Name != 0;
         ++module) {
        auto *name = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->OriginalFirstThunk);
        auto *entry = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->FirstThunk);
        for (; module->OriginalFirstThunk != 0 && name->u1.AddressOfData != 0; ++name, ++entry) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
                continue;
            const auto *byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), function) == 0)
                return reinterpret_cast<void **>(&entry->u1.Function);
        }
    }
    return nullptr;
}

inline void setImportEntry(void **entry, void *function) {
    DWORD protection = 0;
    VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection);
    *entry = function;
    VirtualProtect(entry, sizeof *entry, protection, &protection);
}

class EventsMade {
public:
    EventsMade() {
        patch("CreateEventA", reinterpret_cast<void *>(&countA), reinterpret_cast<void **>(&realA));
        patch("CreateEventW", reinterpret_cast<void *>(&countW), reinterpret_cast<void **>(&realW));
        patch("CreateEventExA", reinterpret_cast<void *>(&countExA), reinterpret_cast<void **>(&realExA));
        patch("CreateEventExW", reinterpret_cast<void *>(&countExW), reinterpret_cast<void **>(&realExW));
        made.store(0);
    }
    ~EventsMade() {
        for (const auto &[entry, real] : patched_)
            setImportEntry(entry, real);
    }
    long count() const { return made.load(); }
    bool watching() const { return !patched_.empty(); }

private:
    void patch(const char *name, void *stand, void **real) {
        if (void **entry = importEntry(name)) {
            *real = *entry;
            patched_.emplace_back(entry, *entry);
            setImportEntry(entry, stand);
        }
    }
    static HANDLE WINAPI countA(LPSECURITY_ATTRIBUTES a, BOOL m, BOOL i, LPCSTR n) { return ++made, realA(a, m, i, n); }
    static HANDLE WINAPI countW(LPSECURITY_ATTRIBUTES a, BOOL m, BOOL i, LPCWSTR n) { return ++made, realW(a, m, i, n); }
    static HANDLE WINAPI countExA(LPSECURITY_ATTRIBUTES a, LPCSTR n, DWORD f, DWORD d) {
        return ++made, realExA(a, n, f, d);
    }
    static HANDLE WINAPI countExW(LPSECURITY_ATTRIBUTES a, LPCWSTR n, DWORD f, DWORD d) {
        return ++made, realExW(a, n, f, d);
    }
    static inline std::atomic<long> made{0};
    static inline decltype(&CreateEventA) realA = nullptr;
    static inline decltype(&CreateEventW) realW = nullptr;
    static inline decltype(&CreateEventExA) realExA = nullptr;
    static inline decltype(&CreateEventExW) realExW = nullptr;
    std::vector<std::pair<void **, void *>> patched_;
};

} // namespace kvd::testing
