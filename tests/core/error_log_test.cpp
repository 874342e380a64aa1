#include "core/error_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/messages.h"

namespace kvd {
namespace {

namespace fs = std::filesystem;
using platform::SystemTime;

// The fake clock: the tests set the time every log entry will carry.
SystemTime g_now{2026, 12, 1, 7, 6, 44, 40, 123};
SystemTime fakeNow() { return g_now; }

// A fresh directory under TMPDIR (or /tmp), removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        for (;;) {
            path_ = fs::temp_directory_path() / ("kvd4093-errlog-" + std::to_string(random()));
            if (fs::create_directory(path_))
                break;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string file(const char *name) const { return (path_ / name).string(); }
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

std::string contents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string lookup(const ErrorLog &log, const char *name) {
    char answer[512];
    log.lookup(name, answer);
    return answer;
}

std::string noMessage(const std::string &name) { return std::string(text::kNoErrorMessage) + "[" + name + "]"; }

// ---- timestamps ------------------------------------------------------------------

struct TimestampCase {
    const char *name;
    SystemTime utc;
    const char *expected;
};

class TimestampTest : public testing::TestWithParam<TimestampCase> {};

TEST_P(TimestampTest, FormatsUtcDateWithHourPlusEight) {
    char out[32];
    ErrorLog::formatTimestamp(GetParam().utc, out);
    EXPECT_STREQ(out, GetParam().expected);

    g_now = GetParam().utc;
    ErrorLog log(&fakeNow);
    log.logError(1, "KVD4093_InitDeviceAD", text::kStartAdFailed);
    EXPECT_EQ(log.strings().at(0), GetParam().expected);
}

// Fields: year, month, day of week, day, hour, minute, second, milliseconds.
INSTANTIATE_TEST_SUITE_P(
    Stamps, TimestampTest,
    testing::Values(TimestampCase{"Morning", {2026, 12, 1, 7, 6, 44, 40, 123}, "2026/12/ 7 14:44:40:123"},
                    TimestampCase{"Evening", {2026, 12, 1, 7, 18, 5, 9, 7}, "2026/12/ 7 26:05:09:007"},
                    TimestampCase{"Hour16", {2026, 12, 4, 31, 16, 0, 0, 0}, "2026/12/31 24:00:00:000"},
                    TimestampCase{"Hour23", {2026, 12, 4, 31, 23, 59, 59, 999}, "2026/12/31 31:59:59:999"},
                    TimestampCase{"Padding", {2025, 3, 5, 7, 0, 0, 0, 7}, "2025/03/ 7 08:00:00:007"},
                    TimestampCase{"ShortYear", {987, 1, 0, 10, 1, 2, 3, 45}, "0987/01/10 09:02:03:045"}),
    [](const testing::TestParamInfo<TimestampCase> &info) { return std::string(info.param.name); });

// ---- entries and the thread's last-error code --------------------------------------

TEST(ErrorLogTest, AppendsTimestampNameMessageAndCodeText) {
    g_now = {2026, 12, 1, 7, 6, 44, 40, 123};
    ErrorLog log(&fakeNow);
    EXPECT_EQ(log.logError(1, "KVD4093_InitDeviceAD", text::kStartAdFailed), 1);
    EXPECT_EQ(log.logError(0, nullptr, nullptr), 1);
    const std::vector<std::string> expected{"2026/12/ 7 14:44:40:123", "KVD4093_InitDeviceAD", text::kStartAdFailed,
                                            "1(Dec)", "2026/12/ 7 14:44:40:123", "", "", "0(Dec)"};
    EXPECT_EQ(log.strings(), expected);
    EXPECT_EQ(log.size(), 8u);
}

TEST(ErrorLogTest, CodeTextAndLastErrorFollowTheCode) {
    struct Case {
        int32_t code;
        const char *text;
        uint32_t lastErrorAfter;
    };
    const Case cases[] = {{0, "0(Dec)", 77}, {1, "1(Dec)", 1}, {2, "2(Dec)", 2}, {-1, "-1(Dec)", 0xFFFFFFFFu},
                          {INT32_MIN, "-2147483648(Dec)", 0x80000000u}};
    for (const Case &c : cases) {
        ErrorLog log(&fakeNow);
        platform::setLastError(77);
        log.logError(c.code, "KVD4093_ReadDeviceAD", text::kReadAdFailed);
        EXPECT_EQ(log.strings().at(3), c.text) << c.code;
        EXPECT_EQ(platform::lastError(), c.lastErrorAfter) << c.code;
    }
}

// ---- the cap -------------------------------------------------------------------------

TEST(ErrorLogTest, EmptiesOnlyWhenMoreThan1024StringsBeforeAnAppend) {
    ErrorLog log(&fakeNow);
    for (int i = 0; i < 256; ++i)
        log.logError(1, ("F" + std::to_string(i)).c_str(), ("M" + std::to_string(i)).c_str());
    EXPECT_EQ(log.size(), 1024u);
    EXPECT_EQ(lookup(log, "F0"), "M0[F0]");

    log.logError(2, "F256", "M256");
    ASSERT_EQ(log.size(), 1028u);
    EXPECT_EQ(log.strings()[1025], "F256");
    EXPECT_EQ(lookup(log, "F0"), "M0[F0]");

    log.logError(1, "F257", "M257");
    const std::vector<std::string> strings = log.strings();
    ASSERT_EQ(strings.size(), 4u);
    EXPECT_EQ(strings[1], "F257");
    EXPECT_EQ(strings[3], "1(Dec)");
    EXPECT_EQ(lookup(log, "F0"), noMessage("F0"));
    EXPECT_EQ(lookup(log, "F256"), noMessage("F256"));
    EXPECT_EQ(lookup(log, "F257"), "M257[F257]");
}

// ---- lookup ---------------------------------------------------------------------------

TEST(ErrorLogTest, LookupAnswers) {
    ErrorLog log(&fakeNow);
    EXPECT_EQ(lookup(log, "KVD4093_InitDeviceAD"), noMessage("KVD4093_InitDeviceAD")) << "empty log";

    log.logError(1, "KVD4093_InitDeviceAD", text::kSetRangeFailed);
    log.logError(2, "KVD4093_ReadDeviceAD", text::kReadAdFailed);
    log.logError(1, "KVD4093_InitDeviceAD", text::kStartAdFailed); // e.g. the AD stop logs under this name
    log.logError(1, "KVD4093_Fmt", "%s%n%d%%");
    log.logError(1, "KVD4093_WriteFile", text::kFileHandleInvalid);

    const struct {
        const char *name;
        std::string answer;
    } cases[] = {
        {"KVD4093_InitDeviceAD", std::string(text::kStartAdFailed) + "[KVD4093_InitDeviceAD]"}, // newest wins
        {"KVD4093_ReadDeviceAD", std::string(text::kReadAdFailed) + "[KVD4093_ReadDeviceAD]"},
        {"KVD4093_ReleaseDeviceAD", "No error message[KVD4093_ReleaseDeviceAD]"},
        {"kvd4093_initdevicead", noMessage("kvd4093_initdevicead")}, // case-sensitive
        {"KVD4093_InitDevice", noMessage("KVD4093_InitDevice")},     // whole strings only
        {"KVD4093_InitDeviceADX", noMessage("KVD4093_InitDeviceADX")},
        {"", noMessage("")},
        {"KVD4093_Fmt", "%s%n%d%%[KVD4093_Fmt]"}, // logged texts are never formats
        {"%s[%s]", noMessage("%s[%s]")},
        {text::kReadAdFailed, std::string("2(Dec)[") + text::kReadAdFailed + "]"}, // every string is compared
        {"1(Dec)", noMessage("1(Dec)")}, // the last string has no string after it
    };
    for (const auto &c : cases)
        EXPECT_EQ(lookup(log, c.name), c.answer) << c.name;
}

TEST(ErrorLogTest, LookupWithNullArgumentsWritesNothing) {
    ErrorLog log(&fakeNow);
    log.logError(1, "KVD4093_InitDeviceAD", text::kStartAdFailed);
    char answer[64] = "untouched";
    log.lookup(nullptr, answer);
    EXPECT_STREQ(answer, "untouched");
    log.lookup("KVD4093_InitDeviceAD", nullptr);
}

TEST(ErrorLogTest, LookupMayShareOneBufferForNameAndAnswer) {
    ErrorLog log(&fakeNow);
    log.logError(1, "KVD4093_InitDeviceAD", text::kStartAdFailed);
    char buffer[128] = "KVD4093_InitDeviceAD";
    log.lookup(buffer, buffer);
    EXPECT_EQ(std::string(buffer), std::string(text::kStartAdFailed) + "[KVD4093_InitDeviceAD]");
}

// ---- the log file ----------------------------------------------------------------------

TEST(ErrorLogFileTest, WritesOneCrlfLinePerEntryExactly) {
    TempDir dir;
    const std::string path = dir.file("KVD4093Err.log");
    ErrorLog log(&fakeNow);
    g_now = {2026, 12, 1, 7, 6, 44, 40, 123};
    log.logError(1, "KVD4093_InitDeviceAD", text::kStartAdFailed);
    g_now = {2026, 3, 1, 9, 18, 5, 9, 7};
    log.logError(0, "KVD4093_CreateDevice", text::kNoDeviceDriver);
    log.logError(2, "", "");
    const std::vector<std::string> before = log.strings();

    ASSERT_TRUE(log.writeFile(path.c_str()));
    const std::string expected = std::string("2026/12/ 7 14:44:40:123   [KVD4093_InitDeviceAD] ") +
                                 "\xc6\xf4\xb6\xaf" "AD\xca\xa7\xb0\xdc" + "  1(Dec)\r\n" +
                                 "2026/03/ 9 26:05:09:007   [KVD4093_CreateDevice] " + text::kNoDeviceDriver +
                                 "  0(Dec)\r\n" + "2026/03/ 9 26:05:09:007   []   2(Dec)\r\n";
    EXPECT_EQ(contents(path), expected);
    EXPECT_EQ(log.strings(), before) << "writing leaves the log as it was";
}

TEST(ErrorLogFileTest, EmptyLogReplacesAnOlderFileWithZeroBytes) {
    TempDir dir;
    const std::string path = dir.file("KVD4093Err.log");
    std::ofstream(path) << "an older log\r\n";
    ASSERT_TRUE(ErrorLog(&fakeNow).writeFile(path.c_str()));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(ErrorLogFileTest, ReadOnlyOlderFileIsMadeWritableAndReplaced) {
    TempDir dir;
    const std::string path = dir.file("KVD4093Err.log");
    std::ofstream(path) << "an older and much longer log that must disappear\r\n";
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    g_now = {2026, 12, 1, 7, 6, 44, 40, 123};
    ErrorLog log(&fakeNow);
    log.logError(1, "KVD4093_WriteFile", text::kFileHandleInvalid);

    ASSERT_TRUE(log.writeFile(path.c_str()));
    EXPECT_EQ(contents(path), std::string("2026/12/ 7 14:44:40:123   [KVD4093_WriteFile] ") +
                                  text::kFileHandleInvalid + "  1(Dec)\r\n");
    uint32_t attributes = 0;
    ASSERT_TRUE(platform::fileAttributes(path.c_str(), &attributes));
    EXPECT_EQ(attributes & platform::kAttributeReadOnly, 0u);
}

TEST(ErrorLogFileTest, ReportsFailureWhenTheFileCannotBeCreatedOrWritten) {
    TempDir dir;
    ErrorLog log(&fakeNow);
    log.logError(1, "KVD4093_InitDeviceAD", text::kStartAdFailed);
    EXPECT_FALSE(log.writeFile(dir.file("missing/KVD4093Err.log").c_str())) << "no such directory";
    EXPECT_FALSE(log.writeFile(dir.path().string().c_str())) << "a directory, not a file";
    EXPECT_FALSE(log.writeFile(nullptr));
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(log.writeFile("/dev/full")) << "every write fails";
    }
    EXPECT_EQ(log.size(), 4u);
}

// ---- threads -----------------------------------------------------------------------------

TEST(ErrorLogThreadTest, EntriesStayWholeWhileThreadsLogAndLookUp) {
    constexpr int kWriters = 8;
    constexpr int kEntriesEach = 10000;
    ErrorLog log; // the real clock
    auto nameOf = [](int t) { return "KVD4093_Writer" + std::to_string(t); };
    auto messageOf = [](int t) { return "message of writer " + std::to_string(t); };
    auto codeOf = [](int t) { return std::to_string(t + 1) + "(Dec)"; };

    std::atomic<int> writersLeft{kWriters};
    std::atomic<int> badLastErrors{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriters; ++t) {
        threads.emplace_back([&, t] {
            const std::string name = nameOf(t), message = messageOf(t);
            for (int i = 0; i < kEntriesEach; ++i) {
                log.logError(t + 1, name.c_str(), message.c_str());
                if (platform::lastError() != uint32_t(t + 1))
                    ++badLastErrors;
            }
            --writersLeft;
        });
    }
    std::atomic<int> badAnswers{0}, badCounts{0}, badEntries{0}, lookups{0};
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&, r] {
            for (int round = 0; writersLeft > 0 || round < 10; ++round) {
                const int t = (round + r) % kWriters;
                const std::string name = nameOf(t);
                const std::string answer = lookup(log, name.c_str());
                if (answer != messageOf(t) + "[" + name + "]" && answer != noMessage(name))
                    ++badAnswers;
                ++lookups;
                if (round % 16 != 0)
                    continue;
                const std::vector<std::string> strings = log.strings();
                if (strings.size() % 4 != 0)
                    ++badCounts;
                for (size_t k = 0; k + 3 < strings.size(); k += 4) {
                    const int writer = strings[k + 1].empty() ? -1 : strings[k + 1].back() - '0';
                    if (strings[k].size() != 23 || strings[k + 1] != nameOf(writer) ||
                        strings[k + 2] != messageOf(writer) || strings[k + 3] != codeOf(writer))
                        ++badEntries;
                }
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    EXPECT_EQ(badLastErrors, 0);
    EXPECT_EQ(badAnswers, 0);
    EXPECT_EQ(badCounts, 0);
    EXPECT_EQ(badEntries, 0);
    EXPECT_GT(lookups, 0);
    // No entry lost or doubled: the cap leaves ((n - 1) mod 257) + 1 entries after n appends.
    constexpr size_t kAppends = size_t(kWriters) * kEntriesEach;
    EXPECT_EQ(log.size(), 4 * ((kAppends - 1) % 257 + 1));
}

} // namespace
} // namespace kvd
