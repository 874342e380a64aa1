// KVD4093.dll as applications meet it: loaded with LoadLibrary, its exports
// found by name and by ordinal, its life from DllMain to FreeLibrary, and the
// environment variables of the virtual cards and the trace. The DLL is a
// copy of the library of its own beside the one this program links, so it
// is driven through its exports only, and no path here shows a message box.
#include <windows.h>

#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "KVD4093.h"
#include "core/messages.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

struct Export {
    uint16_t ordinal;
    const char *name;
};
constexpr Export kExports[] = {
#define KVD4093_EXPORT(ordinal, name) {ordinal, name},
#include "windows/export_table.inc"
#undef KVD4093_EXPORT
};

// The DLL lies beside this program.
std::string dllPath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string program(path, length);
    return program.substr(0, program.find_last_of("\\/") + 1) + "KVD4093.dll";
}

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char *name, const char *value) : name_(name) {
        char old[1024];
        const DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
        if (length > 0 && length < sizeof old)
            old_ = std::string(old, length);
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedVariable() { SetEnvironmentVariableA(name_, old_ ? old_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable &) = delete;
    ScopedVariable &operator=(const ScopedVariable &) = delete;

private:
    const char *name_;
    std::optional<std::string> old_;
};

// Each test runs in a fresh current directory, where the DLL writes its log.
class DllTest : public ::testing::Test {
protected:
    void SetUp() override {
        char previous[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, previous);
        previousDirectory_ = previous;
        ASSERT_TRUE(SetCurrentDirectoryA(dir_.path().c_str()));
    }
    void TearDown() override {
        if (module_ != nullptr)
            FreeLibrary(module_);
        SetCurrentDirectoryA(previousDirectory_.c_str());
    }

    void load() {
        module_ = LoadLibraryA(dllPath().c_str());
        ASSERT_NE(module_, nullptr) << dllPath() << " error " << GetLastError();
    }
    void unload() {
        ASSERT_TRUE(FreeLibrary(module_));
        module_ = nullptr;
    }
    template <class Function>
    Function *function(const char *name) {
        auto *found = reinterpret_cast<Function *>(reinterpret_cast<void *>(GetProcAddress(module_, name)));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    std::string log() const { return readWholeFile(dir_.file(text::kErrorLogFileName)); }

    TempDir dir_;
    HMODULE module_ = nullptr;
    std::string previousDirectory_;
    // The DLL reads these when it loads or first opens a card: none unless a test says so.
    ScopedVariable noVirtualCards_{"KVD4093_VIRTUAL_CARDS", nullptr};
    ScopedVariable noTrace_{"KVD4093_TRACE", nullptr};
};

using CreateDevice = KVD4093_HANDLE KVD4093_CALL(int32_t);
using ReleaseDevice = int32_t KVD4093_CALL(KVD4093_HANDLE);
using GetDeviceCurrentID = int32_t KVD4093_CALL(KVD4093_HANDLE, int32_t *, int32_t *);
using GetLastErrorEx = uint32_t KVD4093_CALL(const char *, char *);

TEST_F(DllTest, EveryOrdinalFindsTheExportOfItsNameAndNoUndecoratedTwinExists) {
    load();
    ASSERT_EQ(std::size(kExports), 45u);
    for (const Export &e : kExports) {
        SCOPED_TRACE(e.name);
        const FARPROC byName = GetProcAddress(module_, e.name);
        EXPECT_NE(byName, nullptr);
        EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(e.ordinal)), byName);
        if (e.name[0] != '_')
            continue;
        const std::string decorated = e.name + 1;                        // BulkRead@20
        const std::string plain = decorated.substr(0, decorated.find('@')); // BulkRead
        EXPECT_EQ(GetProcAddress(module_, decorated.c_str()), nullptr);
        EXPECT_EQ(GetProcAddress(module_, plain.c_str()), nullptr);
    }
    EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(46)), nullptr);
}

TEST_F(DllTest, LoadAndUnloadLeaveAnEmptyLogInTheCurrentDirectory) {
    {
        platform::File *older = platform::openFile(text::kErrorLogFileName,
                                                   platform::file_mode::kCreate | platform::file_mode::kWrite);
        ASSERT_NE(older, nullptr);
        platform::writeFile(older, "an older log\r\n", 14);
        platform::closeFile(older);
    }
    load();
    EXPECT_EQ(log(), "an older log\r\n") << "written at unload, not before";
    unload();
    EXPECT_EQ(GetFileAttributesA(dir_.file(text::kErrorLogFileName).c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(log(), "");
}

TEST_F(DllTest, FreeLibraryWritesTheSessionsFailuresToTheLog) {
    load();
    EXPECT_EQ(function<CreateDevice>("KVD4093_CreateDevice")(0), KVD4093_INVALID_HANDLE) << "no card present";
    char answer[128] = {};
    EXPECT_EQ(function<GetLastErrorEx>("KVD4093_GetLastErrorEx")("KVD4093_CreateDevice", answer), 1u);
    EXPECT_EQ(std::string(answer), std::string(text::kNoDeviceDriver) + "[KVD4093_CreateDevice]");
    unload();
    const std::regex line(R"(\d{4}/\d\d/[ \d]\d \d\d:\d\d:\d\d:\d{3}   \[KVD4093_CreateDevice\] )"
                          "Sorry, there are no device drivers found in your system  1\\(Dec\\)\r\n");
    EXPECT_TRUE(std::regex_match(log(), line)) << log();
}

TEST_F(DllTest, VirtualCardsAndTheTraceFollowTheEnvironment) {
    const std::string trace = dir_.file("trace.txt");
    ScopedVariable cards("KVD4093_VIRTUAL_CARDS", "7,9");
    ScopedVariable tracing("KVD4093_TRACE", trace.c_str());
    load();
    KVD4093_HANDLE handle = function<CreateDevice>("KVD4093_CreateDevice")(1);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    ASSERT_NE(handle, nullptr);
    int32_t logical = -1, physical = -1;
    EXPECT_EQ(function<GetDeviceCurrentID>("KVD4093_GetDeviceCurrentID")(handle, &logical, &physical), 1);
    EXPECT_EQ(logical, 1);
    EXPECT_EQ(physical, 9);
    EXPECT_EQ(function<ReleaseDevice>("KVD4093_ReleaseDevice")(handle), 1);

    const std::string status = "card=1 BULK_READ pipe=3 len=512 ret=512 ok=1 data=" + std::string(34, '0') + "09" +
                               "010001";
    EXPECT_EQ(readWholeFile(trace), "card=1 BULK_WRITE pipe=1 len=512 ret=512 ok=1 data=011f0010" +
                                        std::string(32, '0') + "\n" + "card=1 GET_CURRENT_ID len=4 ret=4 ok=1\n" +
                                        status + "\n" + status + "\n");
    unload();
    // Opened without sharing only when no other handle to it is open.
    const HANDLE alone = CreateFileA(trace.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(alone, INVALID_HANDLE_VALUE) << "the unloaded DLL still holds the trace file";
    CloseHandle(alone);
}

struct ThreadCalls {
    CreateDevice *createDevice;
    KVD4093_HANDLE opened;
};

DWORD WINAPI openTwoCards(void *context) {
    auto *calls = static_cast<ThreadCalls *>(context);
    calls->opened = calls->createDevice(0);
    calls->createDevice(5); // no card there: an entry in the log
    return 0;
}

TEST_F(DllTest, AThreadThatEndsLeavesTheLogAndOpenCardsAsTheyWere) {
    ScopedVariable cards("KVD4093_VIRTUAL_CARDS", "7");
    load();
    ThreadCalls calls{function<CreateDevice>("KVD4093_CreateDevice"), nullptr};
    HANDLE thread = CreateThread(nullptr, 0, &openTwoCards, &calls, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), DWORD(WAIT_OBJECT_0)); // its thread detach has run
    CloseHandle(thread);

    char answer[128] = {};
    function<GetLastErrorEx>("KVD4093_GetLastErrorEx")("KVD4093_CreateDevice", answer);
    EXPECT_EQ(std::string(answer), std::string(text::kNoDeviceDriver) + "[KVD4093_CreateDevice]");
    int32_t logical = -1, physical = -1;
    EXPECT_EQ(function<GetDeviceCurrentID>("KVD4093_GetDeviceCurrentID")(calls.opened, &logical, &physical), 1);
    EXPECT_EQ(physical, 7);
    EXPECT_EQ(function<ReleaseDevice>("KVD4093_ReleaseDevice")(calls.opened), 1);
}

} // namespace
} // namespace kvd::testing
