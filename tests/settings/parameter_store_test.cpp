// The parameter store through its exports: defaults, round trips, the exact
// file a save leaves, which card number selects which section, the reset,
// free values, the installation folder, and null arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "core/messages.h"
#include "card_model/driver_protocol.h"
#include "platform/platform.h"
#include "support/config_home.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kRootKey[] = "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093";

// The record as 17 numbers in field order, for readable comparisons.
std::vector<int32_t> fields(const ADPara &record) {
    std::vector<int32_t> out(17);
    std::memcpy(out.data(), &record, sizeof record);
    return out;
}

const std::vector<int32_t> kDefaults{0, 0, 0, 1, 25000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};

// Every field different, negatives included, so a swapped or lost field shows.
ADPara sampleRecord(int32_t seed) {
    ADPara record{};
    int32_t *field = &record.CheckStsMode;
    for (int32_t i = 0; i < 17; ++i)
        field[i] = (i % 2 == 0 ? -1 : 1) * (seed * 100 + i + 1);
    record.bClockOutput = INT32_MIN;
    return record;
}

// A record full of a value no default has, to see every field written.
ADPara garbageRecord() {
    ADPara record;
    std::memset(&record, 0x55, sizeof record);
    return record;
}

// The save's order by name, with the field each value holds.
struct SavedField {
    const char *name;
    int32_t ADPara::*member;
};
const SavedField kSaveOrder[] = {
    {"CheckStsMode", &ADPara::CheckStsMode},   {"ADMode", &ADPara::ADMode},
    {"FirstChannel", &ADPara::FirstChannel},   {"LastChannel", &ADPara::LastChannel},
    {"Frequency", &ADPara::Frequency},         {"InputRange", &ADPara::InputRange},
    {"GroupInterval", &ADPara::GroupInterval}, {"LoopsOfGroup", &ADPara::LoopsOfGroup},
    {"Gains", &ADPara::Gains},                 {"TriggerMode", &ADPara::TriggerMode},
    {"TriggerType", &ADPara::TriggerType},     {"TriggerSource", &ADPara::TriggerSource},
    {"TriggerDir", &ADPara::TriggerDir},       {"TrigWindow", &ADPara::TrigWindow},
    {"GroundingMode", &ADPara::GroundingMode}, {"ClockSource", &ADPara::ClockSource},
    {"bClockOutput", &ADPara::bClockOutput},
};

std::string dword(const char *name, int32_t value) {
    char line[96];
    std::snprintf(line, sizeof line, "\"%s\"=dword:%08x\n", name, static_cast<unsigned>(value));
    return line;
}

// The settings file after one save of record for a card (with physical ID 0
// or 3), holding the first adValues of the 17 AD values (LF line ends).
std::string fileAfterSave(int32_t physical, int32_t logical, const ADPara &record, size_t adValues = 17) {
    std::string text = std::string("REGEDIT4\n\n") + kRootKey + "]\n\"CompanyName\"=\"Olmvarde\"\n\"CardType\"=\"KVD4093\"\n\n" +
                       kRootKey + "\\Device-0]\n" + dword("DevicePhysID", physical) + dword("DeviceLgcID", logical) + "\n";
    if (adValues == 0)
        return text;
    const std::string device = "Device-" + std::to_string(physical);
    if (physical != 0)
        text += kRootKey + ("\\" + device + "]\n\n");
    text += kRootKey + ("\\" + device + "\\ADPara]\n");
    for (size_t i = 0; i < adValues; ++i)
        text += dword(kSaveOrder[i].name, record.*kSaveOrder[i].member);
    return text + "\n";
}

bool hasKey(const std::string &text, const std::string &section) {
    return text.find(kRootKey + ("\\" + section + "]\n")) != std::string::npos;
}

class ParameterStoreTest : public VirtualCardTest {
protected:
    ConfigHome home_;
};

TEST_F(ParameterStoreTest, AFreshStoreGivesTheDefaultsAndMakesNoFile) {
    install({3});
    for (KVD4093_HANDLE handle : {static_cast<KVD4093_HANDLE>(nullptr), openRecord(0)}) {
        ADPara record = garbageRecord();
        EXPECT_EQ(KVD4093_LoadParaAD(handle, &record), 1);
        EXPECT_EQ(fields(record), kDefaults);
    }
    EXPECT_FALSE(fs::exists(home_.settingsFile()));
}

TEST_F(ParameterStoreTest, SaveThenLoadGivesTheRecordBackNegativeFieldsIncluded) {
    install({3});
    KVD4093_HANDLE card = openRecord(0);
    const ADPara saved = sampleRecord(1);
    ASSERT_EQ(KVD4093_SaveParaAD(card, &saved), 1);
    ADPara loaded = garbageRecord();
    EXPECT_EQ(KVD4093_LoadParaAD(card, &loaded), 1);
    EXPECT_EQ(fields(loaded), fields(saved));
}

TEST_F(ParameterStoreTest, ASaveLeavesRootValuesCardNumbersAndTheRecordInWriteOrder) {
    install({3}); // physical ID 3 at logical number 0
    KVD4093_HANDLE card = openRecord(0);
    const ADPara saved = sampleRecord(2);
    ASSERT_EQ(KVD4093_SaveParaAD(card, &saved), 1);
    EXPECT_EQ(home_.settingsText(), fileAfterSave(3, 0, saved));
    const std::string text = home_.settingsText();
    EXPECT_LT(text.find("\"TriggerType\""), text.find("\"TriggerSource\""));
}

TEST_F(ParameterStoreTest, TheRecordGoesByPhysicalIdAndFreeValuesByLogicalNumber) {
    install({3, 9}); // physical ID 3 at logical 0, physical ID 9 at logical 1
    KVD4093_HANDLE first = openRecord(0);
    KVD4093_HANDLE second = openRecord(1);
    const ADPara record = sampleRecord(3);
    ASSERT_EQ(KVD4093_SaveParaAD(first, &record), 1);
    ASSERT_EQ(KVD4093_SaveParaInt(first, "Gain", 7), 1);
    ASSERT_EQ(KVD4093_SaveParaInt(second, "Gain", 8), 1);
    const std::string text = home_.settingsText();
    EXPECT_TRUE(hasKey(text, "Device-3\\ADPara"));
    EXPECT_FALSE(hasKey(text, "Device-0\\ADPara"));
    EXPECT_NE(text.find(kRootKey + std::string("\\Device-0\\Others]\n\"Gain\"=dword:00000007\n")), std::string::npos);
    EXPECT_NE(text.find(kRootKey + std::string("\\Device-1\\Others]\n\"Gain\"=dword:00000008\n")), std::string::npos);
    EXPECT_FALSE(hasKey(text, "Device-3\\Others"));
    EXPECT_FALSE(hasKey(text, "Device-9\\Others"));
    EXPECT_EQ(KVD4093_LoadParaInt(first, "Gain", -1), 7);
    EXPECT_EQ(KVD4093_LoadParaInt(second, "Gain", -1), 8);
}

// Cards with physical IDs 3 (logical number 0) and 5 (logical number 1),
// each with a record of its own saved, 5's last.
class TwoSavedCardsTest : public ParameterStoreTest {
protected:
    void SetUp() override {
        install({3, 5});
        three_ = openRecord(0);
        five_ = openRecord(1);
        ASSERT_EQ(KVD4093_SaveParaAD(three_, &forThree_), 1);
        ASSERT_EQ(KVD4093_SaveParaAD(five_, &forFive_), 1);
    }

    KVD4093_HANDLE three_ = nullptr;
    KVD4093_HANDLE five_ = nullptr;
    const ADPara forThree_ = sampleRecord(3);
    const ADPara forFive_ = sampleRecord(5);
};

TEST_F(TwoSavedCardsTest, EachKeepsItsRecordAndDeviceZeroNamesTheOneSavedLast) {
    ADPara loaded = garbageRecord();
    KVD4093_LoadParaAD(three_, &loaded);
    EXPECT_EQ(fields(loaded), fields(forThree_));
    KVD4093_LoadParaAD(five_, &loaded);
    EXPECT_EQ(fields(loaded), fields(forFive_));
    EXPECT_EQ(platform::profileInt("Device-0", "DevicePhysID", -1), 5);
    EXPECT_EQ(platform::profileInt("Device-0", "DeviceLgcID", -1), 1);
    ASSERT_EQ(KVD4093_SaveParaAD(three_, &forThree_), 1);
    EXPECT_EQ(platform::profileInt("Device-0", "DevicePhysID", -1), 3);
    EXPECT_EQ(platform::profileInt("Device-0", "DeviceLgcID", -1), 0);
}

TEST_F(TwoSavedCardsTest, ResetRemovesOnlyItsOwnSectionAndGivesTheDefaults) {
    ASSERT_EQ(KVD4093_SaveParaInt(three_, "Kept", 1), 1);
    const std::string before = home_.settingsText();

    ADPara reset = sampleRecord(9);
    EXPECT_EQ(KVD4093_ResetParaAD(three_, &reset), 1);
    EXPECT_EQ(fields(reset), kDefaults);
    ADPara loaded = garbageRecord();
    KVD4093_LoadParaAD(three_, &loaded);
    EXPECT_EQ(fields(loaded), kDefaults);

    // The file is the one before with the section's lines taken out.
    const std::string section = kRootKey + std::string("\\Device-3\\ADPara]\n");
    const size_t start = before.find(section);
    ASSERT_NE(start, std::string::npos);
    const size_t end = before.find("\n\n", start) + 2;
    EXPECT_EQ(home_.settingsText(), before.substr(0, start) + before.substr(end));
    KVD4093_LoadParaAD(five_, &loaded);
    EXPECT_EQ(fields(loaded), fields(forFive_));

    EXPECT_EQ(KVD4093_ResetParaAD(three_, &reset), 1) << "a section already gone";
    EXPECT_EQ(fields(reset), kDefaults);
}

TEST_F(ParameterStoreTest, FreeValuesAndTheirDefaults) {
    install({3});
    KVD4093_HANDLE card = openRecord(0);
    EXPECT_EQ(KVD4093_LoadParaInt(card, "Never", -12345), -12345);
    char buffer[64];
    EXPECT_EQ(KVD4093_LoadParaString(card, "Never", buffer, "fallback"), 1);
    EXPECT_STREQ(buffer, "fallback");

    const std::string gbk = "\xca\xfd\xbe\xdd\\\"\xb2\xc9\xbc\xaf";
    for (int32_t value : {0, 1, -1, INT32_MIN, INT32_MAX}) {
        ASSERT_EQ(KVD4093_SaveParaInt(card, "Number", value), 1);
        EXPECT_EQ(KVD4093_LoadParaInt(card, "Number", 99), value);
    }
    ASSERT_EQ(KVD4093_SaveParaString(card, "Text", gbk.c_str()), 1);
    EXPECT_EQ(KVD4093_LoadParaString(card, "Text", buffer, "fallback"), 1);
    EXPECT_EQ(std::string(buffer), gbk);
    EXPECT_EQ(KVD4093_LoadParaInt(card, "Text", 99), 99) << "a text is no integer";
}

TEST_F(ParameterStoreTest, FormatLikeTextsAreStoredAndLoadedUnchanged) {
    install({3});
    KVD4093_HANDLE card = openRecord(0);
    for (const char *text : {"%d", "%s%s%s%n", "100%", "%%d"}) {
        ASSERT_EQ(KVD4093_SaveParaString(card, "Pattern", text), 1);
        char buffer[32];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(KVD4093_LoadParaString(card, "Pattern", buffer, "%d"), 1);
        EXPECT_STREQ(buffer, text);
        EXPECT_EQ(buffer[std::strlen(text) + 1], 'x') << "exactly the text and its zero";
    }
    char buffer[32];
    KVD4093_LoadParaString(card, "Unset", buffer, "%s%n");
    EXPECT_STREQ(buffer, "%s%n") << "a default is copied, never formatted";
}

TEST_F(ParameterStoreTest, TheInstallationFolderDefaultsAndIsCutToTheBuffer) {
    struct Case {
        int32_t size;
        std::string expected; // the bytes written, the zero included
    };
    const std::string folder = text::kDefaultAppPath; // C:\OLM\KVD4093, 14 bytes
    ASSERT_EQ(folder, "C:\\OLM\\KVD4093");
    const Case cases[] = {
        {128, folder + '\0'}, {15, folder + '\0'}, {14, folder.substr(0, 13) + '\0'},
        {4, std::string("C:\\") + '\0'}, {1, std::string(1, '\0')}, {0, ""}, {-1, ""}, {INT32_MIN, ""},
    };
    for (const Case &c : cases) {
        char buffer[160];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(KVD4093_GetAppPath(buffer, c.size), 1) << c.size;
        EXPECT_EQ(std::string(buffer, c.expected.size()), c.expected) << c.size;
        EXPECT_EQ(buffer[c.expected.size()], '#') << "nothing past the text, size " << c.size;
    }
    EXPECT_EQ(KVD4093_GetAppPath(nullptr, 128), 1);

    // A stored folder; a cut never splits a GBK character ("D:\数据": 3 + 2 + 2 bytes).
    ASSERT_TRUE(platform::writeProfileString("", "AppPath", "D:\\\xca\xfd\xbe\xdd"));
    char buffer[16];
    KVD4093_GetAppPath(buffer, 16);
    EXPECT_STREQ(buffer, "D:\\\xca\xfd\xbe\xdd");
    KVD4093_GetAppPath(buffer, 6);
    EXPECT_STREQ(buffer, "D:\\\xca\xfd");
    KVD4093_GetAppPath(buffer, 5);
    EXPECT_STREQ(buffer, "D:\\");
}

TEST_F(ParameterStoreTest, WithoutReadableNumbersEverySectionUsesZero) {
    install({7, 3}); // physical ID 3 at logical number 1
    KVD4093_HANDLE card = openRecord(1);
    vcard::card(1).failRequest({protocol::kBulkRead, static_cast<int32_t>(protocol::kPipeStatus)}, 0); // the ID cannot be read
    struct Case {
        const char *what;
        KVD4093_HANDLE handle;
    };
    const Case cases[] = {{"null handle", nullptr},
                          {"-1", KVD4093_INVALID_HANDLE},
                          {"a handle never handed out", reinterpret_cast<KVD4093_HANDLE>(0x1000)},
                          {"a card whose status read fails", card}};
    for (const Case &c : cases) {
        ConfigHome home;
        const ADPara saved = sampleRecord(4);
        ASSERT_EQ(KVD4093_SaveParaAD(c.handle, &saved), 1) << c.what;
        ASSERT_EQ(KVD4093_SaveParaInt(c.handle, "Free", 1), 1) << c.what;
        EXPECT_EQ(home.settingsText(), fileAfterSave(0, 0, saved) + kRootKey + "\\Device-0\\Others]\n" +
                                           dword("Free", 1) + "\n")
            << c.what;
        ADPara loaded = garbageRecord();
        KVD4093_LoadParaAD(c.handle, &loaded);
        EXPECT_EQ(fields(loaded), fields(saved)) << c.what;
    }
}

TEST_F(ParameterStoreTest, OnlyTheNumberQueryLogsOncePerQuery) {
    install({3});
    KVD4093_HANDLE card = openRecord(0);
    vcard::card(0).failRequest({protocol::kGetCurrentId, -1}, 0);
    const LogEntry queryFailed{"KVD4093_GetDeviceCurrentID", text::kDeviceHandleInvalid, "1(Dec)"};
    ADPara record = sampleRecord(1);
    struct Case {
        const char *what;
        std::function<void()> call;
        size_t queries;
    };
    char buffer[16];
    const Case cases[] = {
        {"SaveParaAD", [&] { KVD4093_SaveParaAD(card, &record); }, 1},
        {"LoadParaAD", [&] { KVD4093_LoadParaAD(card, &record); }, 1},
        {"ResetParaAD (a query of its own, then the load's)", [&] { KVD4093_ResetParaAD(card, &record); }, 2},
        {"SaveParaInt", [&] { KVD4093_SaveParaInt(card, "N", 1); }, 1},
        {"LoadParaInt", [&] { KVD4093_LoadParaInt(card, "N", 1); }, 1},
        {"SaveParaString", [&] { KVD4093_SaveParaString(card, "S", "s"); }, 1},
        {"LoadParaString", [&] { KVD4093_LoadParaString(card, "S", buffer, ""); }, 1},
        {"GetAppPath asks no card", [&] { KVD4093_GetAppPath(buffer, sizeof buffer); }, 0},
    };
    for (const Case &c : cases) {
        const size_t before = errorLogStrings();
        c.call();
        EXPECT_EQ(entriesSince(before), std::vector<LogEntry>(c.queries, queryFailed)) << c.what;
    }
}

TEST_F(ParameterStoreTest, NullArgumentsNeverCrash) {
    install({3});
    KVD4093_HANDLE card = openRecord(0);
    char buffer[16] = "untouched";
    EXPECT_EQ(KVD4093_SaveParaAD(card, nullptr), 0);
    EXPECT_EQ(KVD4093_SaveParaInt(card, nullptr, 1), 0);
    EXPECT_EQ(KVD4093_SaveParaString(card, nullptr, "x"), 0);
    EXPECT_EQ(KVD4093_SaveParaString(card, "Name", nullptr), 0);
    EXPECT_FALSE(fs::exists(home_.settingsFile())) << "a failed save writes nothing";
    EXPECT_EQ(KVD4093_LoadParaAD(card, nullptr), 1);
    EXPECT_EQ(KVD4093_ResetParaAD(card, nullptr), 1);
    EXPECT_EQ(KVD4093_LoadParaInt(card, nullptr, -7), -7);
    EXPECT_EQ(KVD4093_LoadParaString(card, "Name", nullptr, "default"), 1);
    EXPECT_EQ(KVD4093_LoadParaString(card, nullptr, buffer, "default"), 1);
    EXPECT_STREQ(buffer, "default");
    EXPECT_EQ(KVD4093_LoadParaString(card, "Never", buffer, nullptr), 1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(KVD4093_GetAppPath(nullptr, 16), 1);
}

TEST_F(ParameterStoreTest, ASaveIntoABrokenFileStopsAtItsFirstWrite) {
    install({3});
    KVD4093_HANDLE card = openRecord(0);
    fs::create_directories(home_.path() + "/Olm");
    std::ofstream(home_.settingsFile(), std::ios::binary) << "not a registry export\r\n";
    const ADPara record = sampleRecord(1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(KVD4093_SaveParaAD(card, &record), 0);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(vcard::card(0).requests().empty()) << "stopped before the card's numbers were asked for";
    EXPECT_EQ(readWholeFile(home_.settingsFile()), "not a registry export\r\n");
    ADPara loaded = garbageRecord();
    KVD4093_LoadParaAD(card, &loaded);
    EXPECT_EQ(fields(loaded), kDefaults);
}

TEST_F(ParameterStoreTest, ASaveThatFailsHalfWayKeepsWhatItWroteAndWritesNothingAfter) {
    install({3});
    KVD4093_HANDLE card = openRecord(0);
    const ADPara record = sampleRecord(6);
    for (size_t written : {size_t{0}, size_t{10}, size_t{16}}) {
        ConfigHome home;
        // Files may grow to the size the save has after `written` AD values and no further.
        const std::string allowed = fileAfterSave(3, 0, record, written);
        const auto limit = static_cast<rlim_t>(allowed.size() + std::count(allowed.begin(), allowed.end(), '\n'));
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = limit;
        auto *oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        ::testing::internal::CaptureStderr();
        const int32_t result = KVD4093_SaveParaAD(card, &record);
        const std::string said = ::testing::internal::GetCapturedStderr();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(result, 0) << written;
        EXPECT_EQ(home.settingsText(), allowed) << written;
        EXPECT_NE(said.find("File too large"), std::string::npos) << said;
    }
}

} // namespace
} // namespace kvd::testing
