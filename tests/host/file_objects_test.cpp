// File objects and disk space: the failure table, dead handles, positions,
// open modes and the free bytes of a disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "core/messages.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace mode = platform::file_mode;

constexpr int32_t kCreateReadWrite = mode::kCreate | mode::kReadWrite;

LogEntry invalidFileHandle(const char *function) { return {function, text::kFileHandleInvalid, "1(Dec)"}; }

void writeWholeFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class FileObjectTest : public VirtualCardTest {
protected:
    void SetUp() override {
        install({7});
        device_ = openRecord(0);
        ASSERT_NE(device_, KVD4093_INVALID_HANDLE);
    }
    void TearDown() override {
        for (KVD4093_HANDLE file : files_)
            KVD4093_ReleaseFile(file);
        VirtualCardTest::TearDown();
    }

    // Opens a file that the test releases at its end (a second release is refused harmlessly).
    KVD4093_HANDLE open(const std::string &path, int32_t openMode) {
        KVD4093_HANDLE file = KVD4093_CreateFileObject(device_, path.c_str(), openMode);
        if (file != nullptr && file != KVD4093_INVALID_HANDLE)
            files_.push_back(file);
        return file;
    }

    // A handle the library handed out and took back.
    KVD4093_HANDLE released() {
        KVD4093_HANDLE file = KVD4093_CreateFileObject(device_, dir_.file("released").c_str(), kCreateReadWrite);
        EXPECT_EQ(KVD4093_ReleaseFile(file), 1);
        return file;
    }

    TempDir dir_;
    KVD4093_HANDLE device_ = nullptr;
    std::vector<KVD4093_HANDLE> files_;
};

TEST_F(FileObjectTest, BadDeviceGivesZeroEvenWithANullNameAndLogsNothing) {
    int garbage = 0;
    KVD4093_HANDLE releasedDevice = openRecord(0);
    ASSERT_EQ(KVD4093_ReleaseDevice(releasedDevice), 1);
    const std::string path = dir_.file("never");
    for (KVD4093_HANDLE device : {KVD4093_HANDLE{}, KVD4093_INVALID_HANDLE, KVD4093_HANDLE(&garbage), releasedDevice}) {
        const size_t before = errorLogStrings();
        EXPECT_EQ(KVD4093_CreateFileObject(device, nullptr, kCreateReadWrite), nullptr) << device;
        EXPECT_EQ(KVD4093_CreateFileObject(device, path.c_str(), kCreateReadWrite), nullptr) << device;
        EXPECT_TRUE(entriesSince(before).empty()) << device;
    }
    struct stat info {};
    EXPECT_NE(stat(path.c_str(), &info), 0); // nothing was opened, so nothing was created
}

TEST_F(FileObjectTest, NullNameGivesMinusOneAndAnEntryWithCodeTwo) {
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_CreateFileObject(device_, nullptr, kCreateReadWrite), KVD4093_INVALID_HANDLE);
    EXPECT_EQ(entriesSince(before), std::vector<LogEntry>({{"KVD4093_CreateFileObject", text::kFileNameEmpty, "2(Dec)"}}));
    EXPECT_EQ(platform::lastError(), 2u);
}

TEST_F(FileObjectTest, NamesThatDoNotOpenGiveMinusOneWithoutAnEntry) {
    const std::string names[] = {"", dir_.file("missing/file"), dir_.path(), "/nonexistent/x"};
    for (const std::string &name : names) {
        const size_t before = errorLogStrings();
        EXPECT_EQ(open(name, kCreateReadWrite), KVD4093_INVALID_HANDLE) << name;
        EXPECT_TRUE(entriesSince(before).empty()) << name;
    }
}

TEST_F(FileObjectTest, DeadHandlesAreRefusedWriteReadAndLengthLogUnderTheirOwnNames) {
    int garbage = 0;
    const KVD4093_HANDLE failedOpen = open("", kCreateReadWrite);
    ASSERT_EQ(failedOpen, KVD4093_INVALID_HANDLE);
    const KVD4093_HANDLE dead[] = {failedOpen, nullptr, KVD4093_HANDLE(&garbage), released(), device_};
    char buffer[4] = {'a', 'b', 'c', 'd'};
    for (KVD4093_HANDLE file : dead) {
        const size_t before = errorLogStrings();
        EXPECT_EQ(KVD4093_WriteFile(file, buffer, sizeof buffer), 0) << file;
        EXPECT_EQ(KVD4093_ReadFile(file, buffer, 0, sizeof buffer), 0) << file;
        EXPECT_EQ(KVD4093_GetFileLength(file), 0u) << file;
        EXPECT_EQ(KVD4093_SetFileOffset(file, 0), 0) << file;
        EXPECT_EQ(KVD4093_ReleaseFile(file), 0) << file;
        EXPECT_EQ(entriesSince(before),
                  std::vector<LogEntry>({invalidFileHandle("KVD4093_WriteFile"), invalidFileHandle("KVD4093_ReadFile"),
                                         invalidFileHandle("KVD4093_GetFileLength")}))
            << file;
    }
    EXPECT_EQ(std::string(buffer, 4), "abcd"); // nothing read into it
}

TEST_F(FileObjectTest, ReadPastTheEndFillsOnlyWhatTheFileHolds) {
    writeWholeFile(dir_.file("data"), "abcdef");
    KVD4093_HANDLE file = open(dir_.file("data"), mode::kRead);
    std::string buffer(10, '\xee');
    EXPECT_EQ(KVD4093_ReadFile(file, buffer.data(), 4, 10), 1);
    EXPECT_EQ(buffer, std::string("ef") + std::string(8, '\xee'));
    EXPECT_EQ(KVD4093_ReadFile(file, buffer.data(), 100, 10), 1); // from behind the end: nothing, still 1
    EXPECT_EQ(buffer.substr(0, 2), "ef");
}

TEST_F(FileObjectTest, WriteAfterReadLandsAtTheOffsetPlusTheBytesRead) {
    writeWholeFile(dir_.file("data"), "0123456789");
    KVD4093_HANDLE file = open(dir_.file("data"), mode::kReadWrite);
    char three[3];
    ASSERT_EQ(KVD4093_ReadFile(file, three, 2, 3), 1);
    EXPECT_EQ(std::string(three, 3), "234");
    EXPECT_EQ(KVD4093_WriteFile(file, "XY", 2), 1);
    EXPECT_EQ(KVD4093_GetFileLength(file), 10u);
    EXPECT_EQ(KVD4093_ReleaseFile(file), 1); // opened without share bits, Windows lets no one else read it
    EXPECT_EQ(readWholeFile(dir_.file("data")), "01234XY789");
}

TEST_F(FileObjectTest, SetOffsetMovesTheWritePositionAndWritesAdvanceIt) {
    KVD4093_HANDLE file = open(dir_.file("data"), kCreateReadWrite);
    EXPECT_EQ(KVD4093_WriteFile(file, "abc", 3), 1);
    EXPECT_EQ(KVD4093_WriteFile(file, "def", 3), 1);
    EXPECT_EQ(KVD4093_SetFileOffset(file, 1), 1);
    EXPECT_EQ(KVD4093_WriteFile(file, "Z", 1), 1);
    EXPECT_EQ(KVD4093_SetFileOffset(file, 8), 1); // behind the end: the next write leaves a hole of zeros
    EXPECT_EQ(KVD4093_WriteFile(file, "!", 1), 1);
    EXPECT_EQ(KVD4093_GetFileLength(file), 9u);
    EXPECT_EQ(KVD4093_ReleaseFile(file), 1); // opened without share bits, Windows lets no one else read it
    EXPECT_EQ(readWholeFile(dir_.file("data")), std::string("aZcdef\0\0!", 9));
}

TEST_F(FileObjectTest, EmptyFileHasLengthZeroWithoutAnEntry) {
    const size_t before = errorLogStrings();
    KVD4093_HANDLE file = open(dir_.file("empty"), kCreateReadWrite);
    ASSERT_NE(file, KVD4093_INVALID_HANDLE);
    EXPECT_EQ(KVD4093_GetFileLength(file), 0u);
    EXPECT_TRUE(entriesSince(before).empty());
}

TEST_F(FileObjectTest, OpenModeBitsDecideCreationTruncationAndAccess) {
    struct Case {
        const char *name;
        int32_t openMode;
        bool opens;
        uint32_t lengthAfterOpen; // of a file that held "old data"
        int32_t writeResult;
        int32_t readResult;
    };
    const Case cases[] = {
        {"create truncates", mode::kCreate | mode::kReadWrite, true, 0, 1, 1},
        {"create without truncation keeps", mode::kCreate | mode::kNoTruncate | mode::kReadWrite, true, 8, 1, 1},
        {"read only refuses writes", mode::kRead, true, 8, 0, 1},
        {"write only refuses reads", mode::kWrite, true, 8, 1, 0},
        {"share, inherit, text and binary bits change nothing",
         mode::kReadWrite | mode::kShareDenyWrite | mode::kNoInherit | mode::kBinary, true, 8, 1, 1},
        {"text bit", mode::kReadWrite | mode::kShareExclusive | mode::kText, true, 8, 1, 1},
    };
    for (const Case &c : cases) {
        writeWholeFile(dir_.file("data"), "old data");
        KVD4093_HANDLE file = open(dir_.file("data"), c.openMode);
        ASSERT_EQ(file != KVD4093_INVALID_HANDLE, c.opens) << c.name;
        EXPECT_EQ(KVD4093_GetFileLength(file), c.lengthAfterOpen) << c.name;
        char byte = 0;
        EXPECT_EQ(KVD4093_ReadFile(file, &byte, 0, 1), c.readResult) << c.name;
        EXPECT_EQ(KVD4093_SetFileOffset(file, 0), 1) << c.name;
        EXPECT_EQ(KVD4093_WriteFile(file, "N", 1), c.writeResult) << c.name;
        EXPECT_EQ(KVD4093_ReleaseFile(file), 1) << c.name;
        const std::string expected = c.lengthAfterOpen == 0 ? "N" : (c.writeResult ? "Nld data" : "old data");
        EXPECT_EQ(readWholeFile(dir_.file("data")), expected) << c.name;
    }
}

TEST_F(FileObjectTest, WithoutCreateAMissingFileDoesNotOpen) {
    for (int32_t openMode : {mode::kRead, mode::kWrite, mode::kReadWrite, mode::kNoTruncate | mode::kReadWrite})
        EXPECT_EQ(open(dir_.file("missing"), openMode), KVD4093_INVALID_HANDLE) << openMode;
    EXPECT_EQ(readWholeFile(dir_.file("missing")), "");
}

TEST_F(FileObjectTest, FailedWritesAndReadsAreReportedAndNeverCrash) {
    KVD4093_HANDLE file = open(dir_.file("data"), kCreateReadWrite);
    EXPECT_EQ(KVD4093_WriteFile(file, nullptr, 4), 0);
    EXPECT_EQ(KVD4093_WriteFile(file, "abcd", 4), 1);
    EXPECT_EQ(KVD4093_ReadFile(file, nullptr, 0, 4), 0);
    EXPECT_EQ(KVD4093_WriteFile(file, nullptr, 0), 1); // nothing to write is no failure
}

TEST_F(FileObjectTest, ReleaseEndsTheHandleOnce) {
    KVD4093_HANDLE file = open(dir_.file("data"), kCreateReadWrite);
    EXPECT_EQ(KVD4093_WriteFile(file, "kept", 4), 1);
    EXPECT_EQ(KVD4093_ReleaseFile(file), 1);
    EXPECT_EQ(KVD4093_ReleaseFile(file), 0);
    EXPECT_EQ(readWholeFile(dir_.file("data")), "kept");
}

// The disk's free bytes as the OS counts them (statvfs, GetDiskFreeSpaceEx),
// not the share of them this user may take.
uint64_t diskFreeBytes(const std::string &path) { return std::filesystem::space(path).free; }

TEST(DiskFreeBytesTest, AllFreeBytesOfTheDiskOfAnExistingFolder) {
    TempDir dir;
    // Other processes write meanwhile: the answer lies between two readings, give or take 16 MiB.
    constexpr int64_t kDrift = 16 << 20;
    const auto first = int64_t(diskFreeBytes(dir.path()));
    const int64_t free = KVD4093_GetDiskFreeBytes(dir.path().c_str());
    const auto second = int64_t(diskFreeBytes(dir.path()));
    EXPECT_GE(free, std::min(first, second) - kDrift);
    EXPECT_LE(free, std::max(first, second) + kDrift);
}

TEST(DiskFreeBytesTest, MinusOneWhenThereIsNoDisk) {
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_GetDiskFreeBytes("/nonexistent/x"), -1);
#ifdef _WIN32
    EXPECT_GT(KVD4093_GetDiskFreeBytes(nullptr), 0); // GetDiskFreeSpaceExA: the current disk
#else
    EXPECT_EQ(KVD4093_GetDiskFreeBytes(nullptr), -1);
#endif
    EXPECT_TRUE(entriesSince(before).empty());
}

} // namespace
} // namespace kvd::testing
