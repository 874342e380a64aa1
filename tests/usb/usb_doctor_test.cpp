// kvd4093 doctor on the emulated USB card, as a person runs it under
// kvd4093-usb-sim: cards that open, a device file the user may not open, and
// a card another program holds.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

#if defined(KVD4093_USB_SIM_PATH)

const std::string kTick = "\u2713 ";
const std::string kCross = "\u2717 ";
const std::string kReload = "sudo udevadm control --reload-rules && sudo udevadm trigger";
const std::string kRuleLine = "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"1209\", "
                              "ATTR{idProduct}==\"0001\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"";

class UsbDoctorTest : public ::testing::Test {
protected:
    // A rules folder, with the card's rule or without, that user nobody (the
    // one --deny runs the tool as) may read.
    std::string rules(bool withRule) {
        const std::string folder = dir_.file("rules");
        std::filesystem::create_directories(folder);
        if (withRule)
            std::ofstream(folder + "/70-kvd4093.rules") << kRuleLine << "\n";
        ::chmod(dir_.path().c_str(), 0755);
        return folder;
    }
    TempDir dir_;
};

TEST_F(UsbDoctorTest, CardsThatOpenPassEveryCheck) {
    const std::string folder = rules(true);
    const ChildResult result = runToolOnEmulatedUsb(dir_.path(), {"--ids", "7,9"}, {"doctor", "--udev-rules", folder});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> lines = linesOf(result.out);
    ASSERT_EQ(lines.size(), 13u) << result.out;
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 10),
              (std::vector<std::string>{
                  kTick + "KVD4093_VIRTUAL_CARDS is not set: the library looks for real cards",
                  kTick + "2 USB devices 1209:0001 present",
                  kTick + "USB device 1209:0001 on bus 1, port 1 (/dev/bus/usb/001/002): this user may open it",
                  kTick + "USB device /dev/bus/usb/001/002: no other program holds it",
                  kTick + "USB device /dev/bus/usb/001/002: no kernel driver bound to its interface 0",
                  kTick + "USB device 1209:0001 on bus 1, port 2 (/dev/bus/usb/001/003): this user may open it",
                  kTick + "USB device /dev/bus/usb/001/003: no other program holds it",
                  kTick + "USB device /dev/bus/usb/001/003: no kernel driver bound to its interface 0",
                  kTick + "udev rule " + folder + "/70-kvd4093.rules names 1209:0001",
              }));
    for (const std::string &line : lines)
        EXPECT_EQ(line.rfind(kTick, 0), 0u) << line;
    EXPECT_EQ(lines.back(), kTick + "card 0 (physical ID 7) opens");
}

struct DeniedCase {
    bool ruleInstalled;
    std::string fix; // RULES stands for the rules folder
};

TEST_F(UsbDoctorTest, ADeviceTheUserMayNotOpenNamesTheRuleAndTheReload) {
    const std::vector<DeniedCase> cases = {
        {true,
         "  fix: the udev rule RULES/70-kvd4093.rules names it but has not been applied: reload the rules: " + kReload +
             "\n       and plug the card in again; without a seat (ssh), join the group plugdev:\n"
             "       sudo usermod -aG plugdev \"$USER\", then log in again\n"},
        {false, "  fix: put this line into RULES/70-kvd4093.rules, then reload the rules: " + kReload + "\n       " +
                    kRuleLine + "\n"},
    };
    for (const DeniedCase &denied : cases) {
        const std::string folder = rules(denied.ruleInstalled);
        if (!denied.ruleInstalled)
            std::filesystem::remove(folder + "/70-kvd4093.rules");
        const ChildResult result =
            runToolOnEmulatedUsb(dir_.path(), {"--ids", "7", "--deny", "0"}, {"doctor", "--udev-rules", folder});
        EXPECT_EQ(result.exitCode, 1) << result.err;
        std::string fix = denied.fix;
        fix.replace(fix.find("RULES"), 5, folder);
        EXPECT_NE(result.out.find(kCross +
                                  "USB device 1209:0001 on bus 1, port 1 (/dev/bus/usb/001/002): this user "
                                  "may not open it (permission denied)\n" +
                                  fix),
                  std::string::npos)
            << result.out;
        EXPECT_NE(result.out.find(kCross + "no card opens: "), std::string::npos) << result.out;
    }
}

TEST_F(UsbDoctorTest, ACardAnotherProgramHoldsNamesThatProgram) {
    // The tool acquires from card 0 in the background; once its trace shows
    // reads of samples, it holds the card, and doctor looks.
    const std::string script = "KVD4093_TRACE=trace.txt \"$1\" acquire --card 0 --channels 0-1 --rate 1k --time 60s "
                               ">/dev/null 2>&1 & holder=$!\n"
                               "for i in $(seq 400); do grep -q 'BULK_READ pipe=2' trace.txt 2>/dev/null && break; "
                               "sleep 0.05; done\n"
                               "echo \"holder $holder\"\n"
                               "\"$1\" doctor --udev-rules \"$2\"; status=$?\n"
                               "kill $holder; wait $holder; exit $status\n";
    const ChildResult result =
        runOnEmulatedUsb(dir_.path(), {"--ids", "7,9"}, {"/bin/sh", "-c", script, "sh", KVD4093_TOOL_PATH, rules(true)},
                         {{"KVD4093_VIRTUAL_PACING", std::nullopt}});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    const std::vector<std::string> lines = linesOf(result.out);
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines[0].rfind("holder ", 0), 0u) << result.out;
    const std::string holder = lines[0].substr(7);
    EXPECT_NE(result.out.find(kCross + "USB device /dev/bus/usb/001/002: in use by kvd4093 (process " + holder +
                              ")\n  fix: end that program, or let it release the card\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find(kTick + "USB device /dev/bus/usb/001/003: no other program holds it\n"),
              std::string::npos)
        << result.out;
}

#endif

} // namespace
} // namespace kvd::testing
