// Files on Windows: the framework's mode bits as CreateFileA sees them
// (access, sharing, creation), attributes, appends, and the free space of a disk.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "core/error_log.h"
#include "core/messages.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace mode = platform::file_mode;

void writeText(const std::string &path, const std::string &text) {
    platform::File *file = platform::openFile(path.c_str(), mode::kCreate | mode::kWrite);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(platform::writeFile(file, text.data(), uint32_t(text.size())));
    ASSERT_TRUE(platform::closeFile(file));
}

// ---- creation and access ------------------------------------------------------------

struct OpenCase {
    const char *name;
    uint32_t mode;
    bool fileExistsBefore; // holding "old content"
    bool opens;
    int64_t lengthAfterOpen; // when it opens
    bool canRead;
    bool canWrite;
};

class OpenModeTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenModeTest, CreationAndAccessFollowTheModeBits) {
    const OpenCase &c = GetParam();
    TempDir dir;
    const std::string path = dir.file("data.bin");
    if (c.fileExistsBefore)
        writeText(path, "old content");

    platform::File *file = platform::openFile(path.c_str(), c.mode);
    ASSERT_EQ(file != nullptr, c.opens);
    if (file == nullptr) {
        EXPECT_EQ(GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES, c.fileExistsBefore)
            << "a failed open creates nothing";
        return;
    }
    EXPECT_EQ(platform::fileLength(file), c.lengthAfterOpen);
    char buffer[16] = {};
    EXPECT_EQ(platform::readFile(file, buffer, 3) >= 0, c.canRead);
    EXPECT_EQ(platform::writeFile(file, "xyz", 3), c.canWrite);
    EXPECT_TRUE(platform::closeFile(file));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OpenModeTest,
    ::testing::Values(
        OpenCase{"CreateTruncatesAnExistingFile", mode::kCreate | mode::kWrite, true, true, 0, false, true},
        OpenCase{"CreateMakesAMissingFile", mode::kCreate | mode::kReadWrite, false, true, 0, true, true},
        OpenCase{"NoTruncateKeepsTheContent", mode::kCreate | mode::kNoTruncate | mode::kReadWrite, true, true, 11,
                 true, true},
        OpenCase{"NoTruncateMakesAMissingFile", mode::kCreate | mode::kNoTruncate | mode::kWrite, false, true, 0,
                 false, true},
        OpenCase{"ReadOpensOnlyAnExistingFile", mode::kRead, true, true, 11, true, false},
        OpenCase{"ReadOfAMissingFileFails", mode::kRead, false, false, 0, false, false},
        OpenCase{"ReadWriteOfAMissingFileFails", mode::kReadWrite, false, false, 0, false, false},
        OpenCase{"WriteWithoutCreateKeepsTheContent", mode::kWrite, true, true, 11, false, true}),
    [](const ::testing::TestParamInfo<OpenCase> &info) { return std::string(info.param.name); });

// ---- sharing ----------------------------------------------------------------------------

struct ShareCase {
    const char *name;
    uint32_t share;
    bool othersMayRead;
    bool othersMayWrite;
};

class ShareModeTest : public ::testing::TestWithParam<ShareCase> {};

TEST_P(ShareModeTest, ASecondOpenIsAllowedAsTheFirstSharesTheFile) {
    const ShareCase &c = GetParam();
    TempDir dir;
    const std::string path = dir.file("shared.bin");
    writeText(path, "content");

    platform::File *first = platform::openFile(path.c_str(), mode::kReadWrite | c.share);
    ASSERT_NE(first, nullptr);
    for (const auto &[access, allowed] : {std::pair{mode::kRead, c.othersMayRead}, {mode::kWrite, c.othersMayWrite}}) {
        SCOPED_TRACE(access == mode::kRead ? "second reader" : "second writer");
        platform::File *second = platform::openFile(path.c_str(), access | mode::kShareDenyNone);
        EXPECT_EQ(second != nullptr, allowed);
        if (second != nullptr)
            platform::closeFile(second);
    }
    platform::closeFile(first);
}

INSTANTIATE_TEST_SUITE_P(Shares, ShareModeTest,
                         ::testing::Values(ShareCase{"CompatibilityIsExclusive", mode::kShareCompat, false, false},
                                           ShareCase{"Exclusive", mode::kShareExclusive, false, false},
                                           ShareCase{"DenyWrite", mode::kShareDenyWrite, true, false},
                                           ShareCase{"DenyRead", mode::kShareDenyRead, false, true},
                                           ShareCase{"DenyNone", mode::kShareDenyNone, true, true}),
                         [](const ::testing::TestParamInfo<ShareCase> &info) { return std::string(info.param.name); });

// ---- reading, writing, seeking ----------------------------------------------------------

TEST(Win32FileTest, ReadsWritesAndSeeksFromTheStart) {
    TempDir dir;
    const std::string path = dir.file("data.bin");
    platform::File *file = platform::openFile(path.c_str(), mode::kCreate | mode::kReadWrite);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(platform::writeFile(file, "0123456789", 10));
    ASSERT_TRUE(platform::seekFile(file, 4));
    char buffer[16] = {};
    EXPECT_EQ(platform::readFile(file, buffer, 16), 6) << "only what the file holds past the offset";
    EXPECT_EQ(std::string(buffer, 6), "456789");
    ASSERT_TRUE(platform::seekFile(file, 2));
    ASSERT_TRUE(platform::writeFile(file, "ab", 2));
    EXPECT_EQ(platform::fileLength(file), 10);
    EXPECT_TRUE(platform::closeFile(file));
    EXPECT_EQ(readWholeFile(path), "01ab456789");
}

TEST(Win32FileTest, AppendsOfTwoHandlesBothLandAtTheEnd) {
    TempDir dir;
    const std::string path = dir.file("trace.txt");
    writeText(path, "start;");
    platform::File *one = platform::openFileForAppend(path.c_str());
    platform::File *two = platform::openFileForAppend(path.c_str());
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_TRUE(platform::writeFile(one, "one;", 4));
    EXPECT_TRUE(platform::writeFile(two, "two;", 4));
    EXPECT_TRUE(platform::writeFile(one, "three;", 6));
    EXPECT_EQ(readWholeFile(path), "start;one;two;three;") << "readable while open for appending";
    platform::closeFile(one);
    platform::closeFile(two);
    EXPECT_EQ(platform::openFileForAppend(dir.file("missing/trace.txt").c_str()), nullptr);
}

// ---- attributes -------------------------------------------------------------------------

TEST(Win32FileTest, AttributesAreTheFileSystemsOwn) {
    TempDir dir;
    const std::string path = dir.file("attributes.txt");
    writeText(path, "x");
    ASSERT_TRUE(platform::setFileAttributes(path.c_str(), platform::kAttributeReadOnly | platform::kAttributeHidden));
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    uint32_t attributes = 0;
    ASSERT_TRUE(platform::fileAttributes(path.c_str(), &attributes));
    EXPECT_EQ(attributes, GetFileAttributesA(path.c_str()));

    ASSERT_TRUE(platform::setFileAttributes(path.c_str(), 0));
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
    EXPECT_FALSE(platform::fileAttributes(dir.file("missing.txt").c_str(), &attributes));
    EXPECT_FALSE(platform::setFileAttributes(dir.file("missing.txt").c_str(), 0));
}

TEST(Win32FileTest, ErrorLogFileReplacesAReadOnlyHiddenOlderLogAndKeepsItsOtherBits) {
    TempDir dir;
    const std::string path = dir.file(text::kErrorLogFileName);
    writeText(path, "an older and much longer log that must disappear\r\n");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));

    ErrorLog log([] { return platform::SystemTime{2026, 12, 1, 7, 6, 44, 40, 123}; });
    log.logError(1, "KVD4093_WriteFile", text::kFileHandleInvalid);
    ASSERT_TRUE(log.writeFile(path.c_str()));

    EXPECT_EQ(readWholeFile(path),
              std::string("2026/12/ 7 14:44:40:123   [KVD4093_WriteFile] ") + text::kFileHandleInvalid + "  1(Dec)\r\n");
    const DWORD after = GetFileAttributesA(path.c_str());
    EXPECT_EQ(after & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
    EXPECT_NE(after & FILE_ATTRIBUTE_ARCHIVE, 0u);
}

// ---- disks --------------------------------------------------------------------------------

TEST(Win32DiskTest, FreeBytesAreTheDisksNotTheCallersShare) {
    TempDir dir;
    ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(dir.path().c_str(), &available, &total, &free));
    const int64_t reported = platform::diskFreeBytes(dir.path().c_str());
    EXPECT_GT(reported, 0);
    EXPECT_LE(uint64_t(reported), total.QuadPart);
    EXPECT_EQ(platform::diskFreeBytes("Q:\\no such disk\\"), -1);
    EXPECT_EQ(platform::diskFreeBytes(dir.file("no such directory\\").c_str()), -1);
}

} // namespace
} // namespace kvd::testing
