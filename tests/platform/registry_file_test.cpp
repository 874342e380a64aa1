// The REGEDIT4 text of the settings: exact bytes written, what reads back,
// names without regard to case, and the texts refused as broken.
#include "platform/posix/registry_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/config_home.h"

namespace kvd::platform {
namespace {

using kvd::testing::withoutCarriageReturns;

constexpr char kRoot[] = "HKEY_CURRENT_USER\\Software\\Olm\\KVD4093";

RegistryFile tree() { return RegistryFile(kRoot); }

// The tree's text with CRLF shown as LF; checks every line did end in CRLF.
std::string lines(const RegistryFile &file) {
    const std::string text = file.text();
    const std::string plain = withoutCarriageReturns(text);
    EXPECT_EQ(text.size() - plain.size(), static_cast<size_t>(std::count(plain.begin(), plain.end(), '\n')))
        << "every line ends in CRLF";
    return plain;
}

TEST(RegistryFileTest, AnEmptyTreeIsTheHeaderAlone) {
    EXPECT_EQ(tree().text(), "REGEDIT4\r\n\r\n");
}

TEST(RegistryFileTest, WritesKeysParentsFirstSortedAndValuesInTheOrderFirstWritten) {
    RegistryFile file = tree();
    ASSERT_TRUE(file.setDword("Device-3\\ADPara", "TriggerType", 1));
    ASSERT_TRUE(file.setDword("Device-3\\ADPara", "TriggerSource", 0xFFFFFFD6)); // -42
    ASSERT_TRUE(file.setString("", "CompanyName", "Olmvarde"));
    ASSERT_TRUE(file.setDword("Device-0", "DevicePhysID", 3));
    ASSERT_TRUE(file.setDword("Device-3\\ADPara", "TriggerType", 0x2A)); // keeps its place
    ASSERT_TRUE(file.setString("device-0", "devicephysid", "now a text")); // same value, any case
    ASSERT_TRUE(file.setDword("Device-10", "N", 10));
    EXPECT_EQ(lines(file), "REGEDIT4\n"
                           "\n"
                           "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\n"
                           "\"CompanyName\"=\"Olmvarde\"\n"
                           "\n"
                           "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\Device-0]\n"
                           "\"DevicePhysID\"=\"now a text\"\n"
                           "\n"
                           "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\Device-10]\n"
                           "\"N\"=dword:0000000a\n"
                           "\n"
                           "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\Device-3]\n"
                           "\n"
                           "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\Device-3\\ADPara]\n"
                           "\"TriggerType\"=dword:0000002a\n"
                           "\"TriggerSource\"=dword:ffffffd6\n"
                           "\n");
}

TEST(RegistryFileTest, EscapesQuotesAndBackslashesAndWritesLineBreaksAsAnsiBytes) {
    RegistryFile file = tree();
    ASSERT_TRUE(file.setString("S", "a\"b\\c", "C:\\OLM\\\"x\""));
    ASSERT_TRUE(file.setString("S", "", "default"));
    ASSERT_TRUE(file.setString("S", "Lines", "1\r\n2"));
    ASSERT_TRUE(file.setString("S", "Format", "%d%s%n"));
    EXPECT_EQ(lines(file), "REGEDIT4\n\n"
                           "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\n\n"
                           "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\S]\n"
                           "\"a\\\"b\\\\c\"=\"C:\\\\OLM\\\\\\\"x\\\"\"\n"
                           "@=\"default\"\n"
                           "\"Lines\"=hex(1):31,0d,0a,32,00\n"
                           "\"Format\"=\"%d%s%n\"\n"
                           "\n");
}

TEST(RegistryFileTest, WhatIsWrittenReadsBackByteForByte) {
    // GBK "数据" and a character whose second byte is '\' (0x95 0x5C).
    const std::string gbk = "\xca\xfd\xbe\xdd \x95\x5c end\\";
    RegistryFile file = tree();
    ASSERT_TRUE(file.setString("Device-0\\Others", "Name", gbk));
    ASSERT_TRUE(file.setString("Device-0\\Others", gbk.c_str(), "value named in GBK"));
    ASSERT_TRUE(file.setString("Device-0\\Others", "Lines", "a\nb\r\"c\"\t"));
    ASSERT_TRUE(file.setDword("Device-0\\Others", "Negative", 0x80000000));
    ASSERT_TRUE(file.setString(("\x95\x5c" "Key\\Sub"), "In", "a key named in GBK"));

    RegistryFile again = tree();
    std::string error;
    ASSERT_TRUE(again.parse(file.text(), &error)) << error;
    EXPECT_EQ(again.text(), file.text());
    ASSERT_NE(again.find("Device-0\\Others", "Name"), nullptr);
    EXPECT_EQ(again.find("Device-0\\Others", "Name")->data, gbk);
    EXPECT_EQ(again.find("Device-0\\Others", gbk.c_str())->data, "value named in GBK");
    EXPECT_EQ(again.find("Device-0\\Others", "Lines")->data, "a\nb\r\"c\"\t");
    EXPECT_EQ(again.find("Device-0\\Others", "Negative")->dword, 0x80000000u);
    // The 0x5C inside the GBK character does not split the key name.
    ASSERT_NE(again.find("\x95\x5c" "Key\\Sub", "In"), nullptr);
    EXPECT_EQ(again.find("\x95\x5c" "Key", "In"), nullptr);
}

TEST(RegistryFileTest, NamesMatchWithoutRegardToAsciiCaseOnly) {
    RegistryFile file = tree();
    ASSERT_TRUE(file.setDword("Device-0\\Others", "Gain", 5));
    ASSERT_NE(file.find("DEVICE-0\\others", "gAIN"), nullptr);
    EXPECT_EQ(file.find("DEVICE-0\\others", "gAIN")->dword, 5u);
    // A GBK second byte that looks like a letter is not folded: 0x81 0x61 and 0x81 0x41 differ.
    ASSERT_TRUE(file.setDword("S", "\x81\x61", 1));
    ASSERT_TRUE(file.setDword("S", "\x81\x41", 2));
    EXPECT_EQ(file.find("S", "\x81\x61")->dword, 1u);
    EXPECT_EQ(file.find("S", "\x81\x41")->dword, 2u);
}

TEST(RegistryFileTest, DeletingASectionTakesItsValuesAndSubKeysAndNothingElse) {
    RegistryFile file = tree();
    for (const char *section : {"Device-1", "Device-1\\ADPara", "Device-1\\ADPara\\Deeper", "Device-10", "Device-1x"})
        ASSERT_TRUE(file.setDword(section, "V", 1));
    ASSERT_TRUE(file.deleteSection("device-1"));
    EXPECT_EQ(file.find("Device-1", "V"), nullptr);
    EXPECT_EQ(file.find("Device-1\\ADPara", "V"), nullptr);
    EXPECT_EQ(file.find("Device-1\\ADPara\\Deeper", "V"), nullptr);
    EXPECT_NE(file.find("Device-10", "V"), nullptr);
    EXPECT_NE(file.find("Device-1x", "V"), nullptr);
    EXPECT_EQ(lines(file).find("Device-1]"), std::string::npos);
    EXPECT_TRUE(file.deleteSection("Never-There"));
    EXPECT_TRUE(file.deleteSection(""));
    EXPECT_EQ(file.text(), "REGEDIT4\r\n\r\n");
}

TEST(RegistryFileTest, RefusesNamesItCouldNotWriteOrReadBack) {
    RegistryFile file = tree();
    ASSERT_TRUE(file.setDword("Keep", "V", 7));
    const std::string before = file.text();
    EXPECT_FALSE(file.setDword(nullptr, "V", 1));
    EXPECT_FALSE(file.setDword("S", nullptr, 1));
    EXPECT_FALSE(file.setDword("A\\\\B", "V", 1)) << "an empty sub-key name";
    EXPECT_FALSE(file.setDword("\\A", "V", 1));
    EXPECT_FALSE(file.setDword("A\\", "V", 1));
    EXPECT_FALSE(file.setDword("A\nB", "V", 1));
    EXPECT_FALSE(file.setDword("S", "V\r\n", 1));
    EXPECT_FALSE(file.setString("S", "V", std::string("a\0b", 3)));
    EXPECT_FALSE(file.deleteSection(nullptr));
    EXPECT_EQ(file.find(nullptr, "V"), nullptr);
    EXPECT_EQ(file.find("Keep", nullptr), nullptr);
    EXPECT_EQ(file.text(), before);
}

TEST(RegistryFileTest, ReadsWhatAPersonMayWriteByHand) {
    RegistryFile file = tree();
    std::string error;
    ASSERT_TRUE(file.parse("REGEDIT4\n"
                           "; settings of the lab\n"
                           "[HKEY_CURRENT_USER\\Software\\olm\\kvd4093\\Device-0]   \n"
                           "  \"A\" = dword:2A\n"
                           "\"A\"=dword:0000002b\n" // a later line wins
                           "\"Blob\"=hex:01,02,\\\n"
                           "  03,04\n"
                           "\"Multi\"=hex(7):41,00,00,00\n"
                           "\"T\"=hex(1):41,42,00\n",
                           &error))
        << error;
    EXPECT_EQ(file.find("Device-0", "A")->dword, 0x2Bu);
    EXPECT_EQ(file.find("Device-0", "T")->data, "AB");
    EXPECT_EQ(file.find("Device-0", "Blob")->kind, RegistryValue::Kind::Other);
    // Values of other types are kept as written and survive a rewrite.
    const std::string text = lines(file);
    EXPECT_NE(text.find("\"Blob\"=hex:01,02,03,04\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Multi\"=hex(7):41,00,00,00\n"), std::string::npos) << text;
    EXPECT_TRUE(file.parse("", &error)) << "an empty file is an empty tree";
    EXPECT_EQ(file.text(), "REGEDIT4\r\n\r\n");
}

struct BrokenText {
    const char *text;
    const char *error;
};

// Texts a person may have made by hand, or a save cut short, with what the
// refusal says.
const BrokenText kBrokenTexts[] = {
    {"Windows Registry Editor Version 5.00\r\n", "line 1: the file does not start with REGEDIT4"},
    {"\xef\xbb\xbfREGEDIT4\r\n", "line 1: the file does not start with REGEDIT4"},
    {"REGEDIT4\r\n\"A\"=dword:1\r\n", "line 2: a value before the first key"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\r\n", "line 2: a key line without its closing ']'"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm]\r\n",
     "line 2: a key outside HKEY_CURRENT_USER\\Software\\Olm\\KVD4093"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093x]\r\n",
     "line 2: a key outside HKEY_CURRENT_USER\\Software\\Olm\\KVD4093"},
    {"REGEDIT4\r\n[-HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n",
     "line 2: a key outside HKEY_CURRENT_USER\\Software\\Olm\\KVD4093"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\A\\\\B]\r\n", "line 2: a key with an empty name"},
    {"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\nA=1\r\n",
     "line 4: not a key, a value or a comment"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"\r\n", "line 3: a value name without '='"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=\"open\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=\"a\\nb\"\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=\"x\" trailing\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=dword:123456789\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=dword:\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=dword:12g4\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=-\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=hex(1):41,42\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=hex(1):41,00,42,00\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=hex(z):00\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\"A\"=hex:01,\\\r\n\r\n\"B\"=x\r\n",
     "line 3: a value that is not a string, a dword or a hex list"},
    // A save cut short: the last line has lost its end.
    {"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\Device-0]\r\n\"DevicePhysID\"=dwo",
     "line 4: a value that is not a string, a dword or a hex list"},
};

TEST(RegistryFileTest, ABrokenTextIsRefusedWithItsLineAndLeavesTheTreeEmpty) {
    for (const BrokenText &broken : kBrokenTexts) {
        SCOPED_TRACE(broken.text);
        RegistryFile file = tree();
        ASSERT_TRUE(file.setDword("Before", "V", 1));
        std::string error;
        EXPECT_FALSE(file.parse(broken.text, &error));
        EXPECT_EQ(error, broken.error);
        EXPECT_EQ(file.find("Before", "V"), nullptr);
        EXPECT_EQ(file.text(), "REGEDIT4\r\n\r\n");
    }
}

// Texts made at random from the pieces of a settings file, with the stray
// bytes of a hand-made or damaged one among them: names and texts with
// quotes, backslashes, zeros, carriage returns and GBK characters, escapes
// right and wrong, hex lists over continuation lines, keys in any case and
// depth. Names come mostly from small pools, so that lines meet the same
// keys and values again.
class TextMaker {
public:
    explicit TextMaker(uint32_t seed) : random_(seed) {}

    std::string text() {
        std::string out = pick(4) == 0 ? "REGEDIT4 " : "REGEDIT4";
        for (int lines = pick(10); lines > 0; --lines)
            out += lineEnd() + line();
        if (pick(3) != 0)
            out += lineEnd();
        return pick(8) == 0 ? damaged(out) : out;
    }

    static const std::vector<std::string> &sections() {
        static const std::vector<std::string> pool = {"", "a", "A", "Device-0", "a\\b", "\x95\x5c", "a\\\x95\x5c"};
        return pool;
    }
    static const std::vector<std::string> &names() {
        static const std::vector<std::string> pool = {"", "n", "N", "Frequency", "\x81\x61", "\x81\x41", "a\"b"};
        return pool;
    }

private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }
    template <class T>
    const T &oneOf(const std::vector<T> &pool) { return pool[size_t(pick(int(pool.size())))]; }

    char byte() {
        static const std::string alphabet("aZ0 -_.,;=@[]\\\"\t\r\x81\x5c\x95\xca\xfd\0", 23);
        return alphabet[size_t(pick(int(alphabet.size())))];
    }
    std::string bytes(int most) {
        std::string out;
        for (int n = pick(most + 1); n > 0; --n)
            out += byte();
        return out;
    }
    std::string name() { return pick(4) == 0 ? bytes(4) : oneOf(names()); }

    // Between quotes, escaped as regedit does, or not quite.
    std::string quoted(const std::string &content) {
        std::string out = "\"";
        for (char c : content) {
            if ((c == '\\' || c == '"') && pick(10) != 0)
                out += '\\';
            out += c;
        }
        return pick(20) == 0 ? out : out + '"';
    }

    std::string hexList(bool ansiString) {
        std::string out;
        const int count = pick(5);
        for (int n = 0; n < count; ++n) {
            char digits[4];
            std::snprintf(digits, sizeof digits, "%02x", ansiString && pick(6) == 0 ? 0 : pick(256));
            out += n == 0 ? "" : pick(4) == 0 ? ",\\" + lineEnd() + "  " : ",";
            out += digits;
        }
        return ansiString && pick(4) != 0 ? out + (count > 0 ? ",00" : "00") : out;
    }

    std::string data() {
        switch (pick(6)) {
        case 0:
        case 1: return quoted(bytes(6));
        case 2: {
            std::string digits;
            for (int n = 1 + pick(9); n > 0; --n)
                digits += "0123456789abcdefABCDEFg"[pick(23)];
            return "dword:" + digits;
        }
        case 3: return "hex(1):" + hexList(true);
        case 4: return (pick(2) == 0 ? "hex:" : "hex(7):") + hexList(false);
        default: return bytes(4);
        }
    }

    std::string line() {
        switch (pick(6)) {
        case 0: return pick(2) == 0 ? "" : ";" + bytes(5);
        case 1:
        case 2: {
            std::string path = pick(3) == 0 ? "hkey_current_user\\software\\olm\\kvd4093" : kRoot;
            const std::string section = pick(4) == 0 ? bytes(3) : oneOf(sections());
            if (!section.empty() || pick(5) == 0)
                path += "\\" + section;
            return "[" + path + "]";
        }
        default: {
            const std::string named = pick(6) == 0 ? "@" : quoted(name());
            return named + (pick(5) == 0 ? " = " : "=") + data() + (pick(8) == 0 ? " " : "");
        }
        }
    }

    std::string lineEnd() { return pick(4) == 0 ? "\n" : "\r\n"; }

    std::string damaged(std::string text) {
        if (!text.empty())
            text[size_t(pick(int(text.size())))] = byte();
        return text;
    }

    std::mt19937 random_;
};

// Whatever the reader takes, the writer writes back in a form the reader
// takes, and that form is its own fixed point: one save can never make the
// settings unreadable.
TEST(RegistryFileTest, WhateverItReadsItWritesBackInAFormItReads) {
    TextMaker maker(4093);
    int accepted = 0;
    for (int n = 0; n < 20000; ++n) {
        const std::string input = maker.text();
        RegistryFile first = tree();
        if (!first.parse(input, nullptr))
            continue;
        ++accepted;
        const std::string written = first.text();
        RegistryFile second = tree();
        std::string error;
        ASSERT_TRUE(second.parse(written, &error)) << error << "\nread:\n" << ::testing::PrintToString(input)
                                                   << "\nwritten:\n" << ::testing::PrintToString(written);
        ASSERT_EQ(second.text(), written) << ::testing::PrintToString(input);
    }
    EXPECT_GT(accepted, 4000) << "the texts made reach the reader's every branch only if many are accepted";
}

// The case that once made the store unreadable: a quoted text with a zero
// and a carriage return, which no ANSI-string bytes can hold.
TEST(RegistryFileTest, AQuotedTextWithAZeroAndACarriageReturnStaysQuoted) {
    RegistryFile file = tree();
    const std::string line("\"T\"=\"a\0b\rc\"", 11);
    ASSERT_TRUE(file.parse(std::string("REGEDIT4\r\n[") + kRoot + "]\r\n" + line + "\r\n", nullptr));
    EXPECT_EQ(file.find("", "T")->data, std::string("a\0b\rc", 5));
    EXPECT_NE(file.text().find(line + "\r\n"), std::string::npos) << ::testing::PrintToString(file.text());
}

// Reading one section finds in every text exactly what reading the whole
// text finds there, and refuses exactly the texts the whole reading refuses.
TEST(RegistryFileTest, ReadingOneSectionFindsWhatReadingItAllFinds) {
    TextMaker maker(936);
    for (int n = 0; n < 5000; ++n) {
        const std::string input = maker.text();
        RegistryFile all = tree();
        const bool parsed = all.parse(input, nullptr);
        for (const std::string &section : TextMaker::sections()) {
            RegistryFile one = tree();
            ASSERT_EQ(one.parseSection(input, section.c_str(), nullptr), parsed) << ::testing::PrintToString(input);
            for (const std::string &name : TextMaker::names()) {
                const RegistryValue *expected = all.find(section.c_str(), name.c_str());
                const RegistryValue *found = one.find(section.c_str(), name.c_str());
                ASSERT_EQ(found == nullptr, expected == nullptr) << section << "/" << name;
                if (expected != nullptr) {
                    EXPECT_EQ(found->kind, expected->kind);
                    EXPECT_EQ(found->dword, expected->dword);
                    EXPECT_EQ(found->data, expected->data);
                    EXPECT_EQ(found->name, expected->name);
                }
            }
        }
    }
}

} // namespace
} // namespace kvd::platform
