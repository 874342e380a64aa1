// The device list report: its whole text, its box, and the cards it leaves closed.
#include <gtest/gtest.h>

#include "core/messages.h"
#include "card_model/driver_protocol.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace protocol = kvd::protocol;

// The explanation that ends every report, in GBK, spelled out byte for byte.
const std::string kExplanation =
    "\r\n"
    "\xcb\xb5\xc3\xf7\xa3\xba\r\n"                                                 // 说明：
    "\xc2\xdf\xbc\xad" "ID\xba\xc5\xd6\xb8\xb5\xc4\xca\xc7\xc4\xfa\xb2\xe5\xc8\xeb"
    "\xc4\xb3\xb8\xf6\xc9\xe8\xb1\xb8\xb5\xc4\xcb\xb3\xd0\xf2\xba\xc5\r\n"          // 逻辑ID号指的是您插入某个设备的顺序号
    "\xb6\xf8\xce\xef\xc0\xed" "ID\xba\xc5\xca\xc7\xc4\xfa\xd4\xda\xc4\xb3\xb8\xf6"
    "\xc9\xe8\xb1\xb8\xc9\xcf\xc9\xe8\xd6\xc3\xb5\xc4\xd3\xb2\xbc\xfe\xb1\xea\xca\xb6\xba\xc5,\r\n" // 而物理ID号是您在某个设备上设置的硬件标识号,
    "\xb4\xcb\xce\xef\xc0\xed" "ID\xba\xc5\xb2\xbb\xc4\xdc\xcf\xe0\xd6\xd8\xa3\xac\xc8\xe7\xb9\xfb"
    "\xc4\xfa\xb5\xc4\xc9\xe8\xb1\xb8\xca\xfd\xc1\xbf\xb3\xac\xb9\xfd" "16\xb8\xf6,\r\n" // 此物理ID号不能相重，如果您的设备数量超过16个,
    "\xc7\xeb\xc4\xfa\xca\xb9\xd3\xc3\xc2\xdf\xbc\xad" "ID\xba\xc5";                 // 请您使用逻辑ID号

std::string countLine(int count) {
    // 在您的系统中共有 %d 个 KVD4093 设备,
    return "\xd4\xda\xc4\xfa\xb5\xc4\xcf\xb5\xcd\xb3\xd6\xd0\xb9\xb2\xd3\xd0 " + std::to_string(count) +
           " \xb8\xf6 KVD4093 \xc9\xe8\xb1\xb8,\r\n"
           // 现列表已有设备的物理号和逻辑号:
           "\xcf\xd6\xc1\xd0\xb1\xed\xd2\xd1\xd3\xd0\xc9\xe8\xb1\xb8\xb5\xc4\xce\xef\xc0\xed\xba\xc5\xba\xcd"
           "\xc2\xdf\xbc\xad\xba\xc5:\r\n\r\n";
}

std::string cardLines(const std::string &physicalHex, const std::string &logicalHex) {
    // 物理ID号(Hex) = %x / 逻辑ID号(Hex) = %x
    return "\xce\xef\xc0\xed" "ID\xba\xc5(Hex) = " + physicalHex + "\r\n\xc2\xdf\xbc\xad" "ID\xba\xc5(Hex) = " +
           logicalHex + "\r\n";
}

class DeviceListTest : public VirtualCardTest {
protected:
    Message showReport() {
        EXPECT_EQ(KVD4093_ListDeviceDlg(), 1);
        const auto boxes = messages_.messages();
        EXPECT_EQ(boxes.size(), 1u);
        return boxes.empty() ? Message{} : boxes.back();
    }
};

TEST_F(DeviceListTest, OneCardReportWholeText) {
    install({3});
    const size_t before = errorLogStrings();
    const Message box = showReport();
    EXPECT_EQ(box.text, countLine(1) + cardLines("3", "0") + kExplanation);
    EXPECT_EQ(box.caption, "\xc9\xe8\xb1\xb8\xc1\xd0\xb1\xed"); // 设备列表
    EXPECT_EQ(box.style, 0x40u);
    EXPECT_EQ(entriesSince(before).size(), 31u); // the numbers 1 to 31 of the list
    EXPECT_EQ(vcard::card(0).openFiles(), 0);
    // Opened twice (count, list), each with its open packet; two status reads for the ID.
    EXPECT_EQ(requestsOf(vcard::card(0), protocol::kBulkWrite, 1).size(), 2u);
    EXPECT_EQ(requestsOf(vcard::card(0), protocol::kBulkRead, 3).size(), 2u);
    EXPECT_EQ(requestsOf(vcard::card(0), protocol::kGetDeviceCount).size(), 1u);
}

TEST_F(DeviceListTest, PhysicalIdsInLowerCaseHex) {
    install({26, 0xff, 3});
    const Message box = showReport();
    EXPECT_EQ(box.text, countLine(3) + cardLines("1a", "0") + cardLines("ff", "1") + cardLines("3", "2") +
                            kExplanation);
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(vcard::card(n).openFiles(), 0);
}

TEST_F(DeviceListTest, NoCardStillShowsTheReportAndLogsSixtyFourEntries) {
    install({});
    const size_t before = errorLogStrings();
    const Message box = showReport();
    EXPECT_EQ(box.text, countLine(0) + kExplanation);
    const auto entries = entriesSince(before);
    EXPECT_EQ(entries.size(), 64u);
    for (const LogEntry &entry : entries)
        EXPECT_EQ(entry.name, "KVD4093_CreateDevice");
}

TEST_F(DeviceListTest, CardThatRefusedItsOpenPacketIsListedAsAllOnes) {
    install({3});
    vcard::card(0).failRequest({protocol::kBulkWrite, 1}, 0);
    const Message box = showReport();
    EXPECT_EQ(box.text, countLine(0) + cardLines("ffffffff", "0") + kExplanation);
    EXPECT_EQ(vcard::card(0).openFiles(), 0);
}

TEST_F(DeviceListTest, FailedCountShowsZero) {
    install({3});
    vcard::card(0).failRequest({protocol::kGetDeviceCount, -1}, 0);
    const Message box = showReport();
    EXPECT_EQ(box.text, countLine(0) + cardLines("3", "0") + kExplanation);
}

} // namespace
} // namespace kvd::testing
