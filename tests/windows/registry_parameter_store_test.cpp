// The parameter store on Windows: what the exports save lands in the
// registry below HKEY_CURRENT_USER\Software\Olm\KVD4093 where the settings
// layout puts it, read back here with the registry API itself; and what the
// registry holds is what the loads answer.
#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/lifecycle.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

constexpr char kRoot[] = "Software\\Olm\\KVD4093";

std::string keyOf(const std::string &section) { return section.empty() ? kRoot : kRoot + ("\\" + section); }

bool keyExists(const std::string &section) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyOf(section).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A value's type and bytes as the registry holds them; type 0 when missing.
std::pair<DWORD, std::string> rawValue(const std::string &section, const char *name) {
    char bytes[512];
    DWORD type = 0, size = sizeof bytes;
    if (RegGetValueA(HKEY_CURRENT_USER, keyOf(section).c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, bytes, &size) !=
        ERROR_SUCCESS)
        return {0, ""};
    return {type, std::string(bytes, size)};
}

std::pair<DWORD, std::string> dword(int32_t value) {
    const DWORD bits = static_cast<DWORD>(value);
    return {REG_DWORD, std::string(reinterpret_cast<const char *>(&bits), sizeof bits)};
}

std::pair<DWORD, std::string> text(const std::string &value) { return {REG_SZ, value + '\0'}; }

std::set<std::string> valueNames(const std::string &section) {
    std::set<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyOf(section).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD i = 0, length = sizeof name; RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                                            ERROR_SUCCESS;
         ++i, length = sizeof name)
        names.insert(name);
    RegCloseKey(key);
    return names;
}

void setRaw(const std::string &section, const char *name, DWORD type, const void *data, DWORD size) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, keyOf(section).c_str(), name, type, data, size), ERROR_SUCCESS);
}

struct NamedField {
    const char *name;
    int32_t ADPara::*member;
};
constexpr NamedField kFields[] = {
    {"CheckStsMode", &ADPara::CheckStsMode},   {"ADMode", &ADPara::ADMode},
    {"FirstChannel", &ADPara::FirstChannel},   {"LastChannel", &ADPara::LastChannel},
    {"Frequency", &ADPara::Frequency},         {"InputRange", &ADPara::InputRange},
    {"GroupInterval", &ADPara::GroupInterval}, {"LoopsOfGroup", &ADPara::LoopsOfGroup},
    {"Gains", &ADPara::Gains},                 {"TriggerMode", &ADPara::TriggerMode},
    {"TriggerSource", &ADPara::TriggerSource}, {"TriggerType", &ADPara::TriggerType},
    {"TriggerDir", &ADPara::TriggerDir},       {"TrigWindow", &ADPara::TrigWindow},
    {"GroundingMode", &ADPara::GroundingMode}, {"ClockSource", &ADPara::ClockSource},
    {"bClockOutput", &ADPara::bClockOutput},
};

std::vector<int32_t> fields(const ADPara &record) {
    std::vector<int32_t> out(17);
    std::memcpy(out.data(), &record, sizeof record);
    return out;
}
const std::vector<int32_t> kDefaults{0, 0, 0, 1, 25000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};

// Every field different, negatives and the extremes included.
ADPara sampleRecord() {
    ADPara record{};
    int32_t *field = &record.CheckStsMode;
    for (int32_t i = 0; i < 17; ++i)
        field[i] = (i % 2 == 0 ? -1 : 1) * (100 + i);
    record.bClockOutput = INT32_MIN;
    record.ClockSource = INT32_MAX;
    return record;
}

// The settings root as the library's load selects it, empty at the start.
class RegistryParameterStoreTest : public VirtualCardTest {
protected:
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Olm");
        ASSERT_TRUE(host::processAttach());
    }
};

TEST_F(RegistryParameterStoreTest, ASaveLandsInTheRootDeviceZeroAndTheSectionOfThePhysicalId) {
    install({3}); // physical ID 3 at logical number 0
    KVD4093_HANDLE card = openRecord(0);
    const ADPara saved = sampleRecord();
    ASSERT_EQ(KVD4093_SaveParaAD(card, &saved), 1);

    EXPECT_EQ(valueNames(""), (std::set<std::string>{"CompanyName", "CardType"}));
    EXPECT_EQ(rawValue("", "CompanyName"), text("Olmvarde"));
    EXPECT_EQ(rawValue("", "CardType"), text("KVD4093"));
    EXPECT_EQ(valueNames("Device-0"), (std::set<std::string>{"DevicePhysID", "DeviceLgcID"}));
    EXPECT_EQ(rawValue("Device-0", "DevicePhysID"), dword(3));
    EXPECT_EQ(rawValue("Device-0", "DeviceLgcID"), dword(0));

    std::set<std::string> names;
    for (const NamedField &field : kFields) {
        names.insert(field.name);
        EXPECT_EQ(rawValue("Device-3\\ADPara", field.name), dword(saved.*field.member)) << field.name;
    }
    EXPECT_EQ(valueNames("Device-3\\ADPara"), names);
    EXPECT_FALSE(keyExists("Device-0\\ADPara"));
}

TEST_F(RegistryParameterStoreTest, TheLoadAnswersWhatTheRegistryHoldsAndDefaultsTheRest) {
    install({3});
    KVD4093_HANDLE card = openRecord(0);
    const DWORD frequency = 12345, window = static_cast<DWORD>(-5);
    setRaw("Device-3\\ADPara", "Frequency", REG_DWORD, &frequency, sizeof frequency);
    setRaw("Device-3\\ADPara", "TrigWindow", REG_DWORD, &window, sizeof window);
    setRaw("Device-3\\ADPara", "LastChannel", REG_SZ, "7", 2); // not a DWORD: the default

    ADPara loaded;
    std::memset(&loaded, 0x55, sizeof loaded);
    EXPECT_EQ(KVD4093_LoadParaAD(card, &loaded), 1);
    std::vector<int32_t> expected = kDefaults;
    expected[4] = 12345;
    expected[13] = -5;
    EXPECT_EQ(fields(loaded), expected);
}

TEST_F(RegistryParameterStoreTest, FreeValuesGoByLogicalNumberAsDwordsAndAnsiStrings) {
    install({3, 9}); // physical ID 3 at logical 0, physical ID 9 at logical 1
    KVD4093_HANDLE first = openRecord(0);
    KVD4093_HANDLE second = openRecord(1);
    const std::string gbk = "\xc9\xe8\xb1\xb8 %d %s";
    ASSERT_EQ(KVD4093_SaveParaInt(second, "Gain", -8), 1);
    ASSERT_EQ(KVD4093_SaveParaString(first, "Note", gbk.c_str()), 1);
    EXPECT_EQ(rawValue("Device-1\\Others", "Gain"), dword(-8));
    EXPECT_EQ(rawValue("Device-0\\Others", "Note"), text(gbk));
    EXPECT_FALSE(keyExists("Device-9\\Others"));
    EXPECT_FALSE(keyExists("Device-3\\Others"));

    const DWORD preset = 77;
    setRaw("Device-1\\Others", "Preset", REG_DWORD, &preset, sizeof preset);
    setRaw("Device-1\\Others", "Label", REG_SZ, "100%d", 6);
    EXPECT_EQ(KVD4093_LoadParaInt(second, "Preset", -1), 77);
    EXPECT_EQ(KVD4093_LoadParaInt(first, "Preset", -1), -1) << "the other card's section";
    char buffer[64];
    EXPECT_EQ(KVD4093_LoadParaString(second, "Label", buffer, "default"), 1);
    EXPECT_STREQ(buffer, "100%d");
    EXPECT_EQ(KVD4093_LoadParaString(second, "Missing", buffer, "default"), 1);
    EXPECT_STREQ(buffer, "default");
}

TEST_F(RegistryParameterStoreTest, TheResetDeletesTheCardsSectionKeyAndNothingElse) {
    install({3, 5});
    KVD4093_HANDLE three = openRecord(0);
    KVD4093_HANDLE five = openRecord(1);
    const ADPara saved = sampleRecord();
    ASSERT_EQ(KVD4093_SaveParaAD(three, &saved), 1);
    ASSERT_EQ(KVD4093_SaveParaAD(five, &saved), 1);
    EXPECT_EQ(rawValue("Device-0", "DevicePhysID"), dword(5)) << "the card saved last";
    EXPECT_EQ(rawValue("Device-0", "DeviceLgcID"), dword(1));

    ADPara record = saved;
    EXPECT_EQ(KVD4093_ResetParaAD(three, &record), 1);
    EXPECT_EQ(fields(record), kDefaults);
    EXPECT_FALSE(keyExists("Device-3\\ADPara"));
    EXPECT_TRUE(keyExists("Device-3")) << "only the ADPara key goes";
    EXPECT_EQ(valueNames("Device-5\\ADPara").size(), 17u);
    EXPECT_EQ(valueNames("Device-0").size(), 2u);
}

TEST_F(RegistryParameterStoreTest, WithoutACardEverySectionIsNumberZero) {
    const ADPara saved = sampleRecord();
    ASSERT_EQ(KVD4093_SaveParaAD(nullptr, &saved), 1);
    ASSERT_EQ(KVD4093_SaveParaInt(nullptr, "Count", 4), 1);
    EXPECT_EQ(rawValue("Device-0", "DevicePhysID"), dword(0));
    EXPECT_EQ(rawValue("Device-0", "DeviceLgcID"), dword(0));
    EXPECT_EQ(rawValue("Device-0\\ADPara", "Frequency"), dword(saved.Frequency));
    EXPECT_EQ(rawValue("Device-0\\Others", "Count"), dword(4));
}

TEST_F(RegistryParameterStoreTest, TheInstallationFolderIsTheRootsAppPath) {
    char folder[128];
    EXPECT_EQ(KVD4093_GetAppPath(folder, sizeof folder), 1);
    EXPECT_STREQ(folder, "C:\\OLM\\KVD4093");
    EXPECT_FALSE(keyExists("")) << "reading creates nothing";

    setRaw("", "AppPath", REG_SZ, "D:\\Instruments\\KVD", 20);
    EXPECT_EQ(KVD4093_GetAppPath(folder, sizeof folder), 1);
    EXPECT_STREQ(folder, "D:\\Instruments\\KVD");
}

} // namespace
} // namespace kvd::testing
