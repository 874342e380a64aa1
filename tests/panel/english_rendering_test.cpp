// The panel and the tool show each error-log message with the English of
// the one table they share; a message with a number gets the number in its
// English, and a message the table does not hold gets none.
#include <gtest/gtest.h>

#include "common/english_rendering.h"

namespace kvd::testing {
namespace {

using tool::englishRendering;

// "物理ID号=" and "的设备不存在" in GBK, as the log holds them.
const std::string kNoIdBefore = "\xce\xef\xc0\xedID\xba\xc5=";
const std::string kNoIdAfter = "\xb5\xc4\xc9\xe8\xb1\xb8\xb2\xbb\xb4\xe6\xd4\xda";
// "启动AD失败"
const std::string kStartFailed = "\xc6\xf4\xb6\xaf" "AD\xca\xa7\xb0\xdc";

TEST(EnglishRenderingTest, ANumberInTheMessageGoesIntoTheEnglish) {
    const struct {
        std::string logged;
        std::string english;
    } cases[] = {
        {kNoIdBefore + "12" + kNoIdAfter, "no device with physical ID 12 exists"},
        {kNoIdBefore + "-1" + kNoIdAfter, "no device with physical ID -1 exists"},
        {kNoIdBefore + kNoIdAfter, ""},
        {kNoIdBefore + "1x" + kNoIdAfter, ""},
        {kStartFailed, "starting AD failed"},
        {kStartFailed + "!", ""},
        {"Sorry, there are no device drivers found in your system", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(englishRendering(c.logged), c.english) << c.english;
}

} // namespace
} // namespace kvd::testing
