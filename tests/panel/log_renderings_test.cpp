// The panel shows each error-log message with the troubleshooting page's
// English: its table and the page's rows say the same, and a message with a
// number gets the number in its English.
#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "panel/log_renderings.h"

namespace kvd::testing {
namespace {

using namespace tool::panel;

std::string troubleshootingPage() {
    std::ifstream file(KVD4093_SOURCE_DIR "/docs/troubleshooting.md");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(LogRenderingsTest, EveryRenderingIsTheTroubleshootingPagesOwn) {
    const std::string page = troubleshootingPage();
    ASSERT_FALSE(page.empty());
    for (const LogRendering *r = logRenderingsBegin(); r != logRenderingsEnd(); ++r) {
        // | `"message"` | english | ...; "(English as logged)" where the message is English.
        const std::string row = std::string("| `\"") + r->message + "\"` | ";
        const size_t at = page.find(row);
        ASSERT_NE(at, std::string::npos) << r->message;
        const size_t start = at + row.size();
        const std::string english = page.substr(start, page.find(" |", start) - start);
        EXPECT_EQ(english == "(English as logged)" ? std::string(r->message) : english, r->english);
    }
}

TEST(LogRenderingsTest, EveryMessageOfTheLogTableHasARendering) {
    const std::string page = troubleshootingPage();
    const size_t start = page.find("## Messages of the error log");
    const std::string table = page.substr(start, page.find("The answer of KVD4093_GetLastErrorEx()", start) - start);
    const std::regex row("\\| `\"([^`]*)\"` \\|");
    size_t rows = 0;
    for (auto it = std::sregex_iterator(table.begin(), table.end(), row); it != std::sregex_iterator(); ++it, ++rows) {
        const std::string message = (*it)[1].str();
        EXPECT_TRUE(std::any_of(logRenderingsBegin(), logRenderingsEnd(),
                                [&](const LogRendering &r) { return message == r.message; }))
            << message;
    }
    EXPECT_EQ(rows, size_t(logRenderingsEnd() - logRenderingsBegin()));
}

TEST(LogRenderingsTest, ANumberInTheMessageGoesIntoTheEnglish) {
    EXPECT_EQ(englishOf("物理ID号=12的设备不存在"), "no device with physical ID 12 exists");
    EXPECT_EQ(englishOf("物理ID号=-1的设备不存在"), "no device with physical ID -1 exists");
    EXPECT_EQ(englishOf("物理ID号=的设备不存在"), "");
    EXPECT_EQ(englishOf("物理ID号=1x的设备不存在"), "");
    EXPECT_EQ(englishOf("启动AD失败"), "starting AD failed");
    EXPECT_EQ(englishOf("启动AD失败!"), "");
}

} // namespace
} // namespace kvd::testing
