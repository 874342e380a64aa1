// The message service on POSIX shows a box on standard error in the
// character set of the user's environment, whatever the program's own locale.
#include <gtest/gtest.h>

#include <string>

#include "core/messages.h"
#include "platform/platform.h"
#include "support/scoped_variable.h"

namespace kvd::testing {
namespace {

// " 复位USB端口失败" in UTF-8 and GB18030 (whose bytes are GBK's here).
const std::string kUtf8Text = " \xe5\xa4\x8d\xe4\xbd\x8dUSB\xe7\xab\xaf\xe5\x8f\xa3\xe5\xa4\xb1\xe8\xb4\xa5";
const std::string kGbkText = text::kUsbResetFailed;

TEST(MessageBoxTest, TextsAreConvertedForTheUsersEnvironment) {
    struct Case {
        const char *lcAll;
        const char *lcCtype;
        const char *lang;
        const std::string &expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "C.UTF-8", kUtf8Text},
        {"C", nullptr, "zh_CN.GB18030", kUtf8Text},  // LC_ALL wins; "C" shows UTF-8
        {nullptr, nullptr, "POSIX", kUtf8Text},
        {nullptr, nullptr, nullptr, kUtf8Text},        // no locale at all
        {nullptr, "C.UTF-8", "zh_CN.GB18030", kUtf8Text},
        {nullptr, nullptr, "xx_XX.GB18030", kGbkText}, // a locale the system lacks, taken at its word
    };
    for (const Case &c : cases) {
        const ScopedVariable lcAll("LC_ALL", c.lcAll);
        const ScopedVariable lcCtype("LC_CTYPE", c.lcCtype);
        const ScopedVariable lang("LANG", c.lang);
        ::testing::internal::CaptureStderr();
        platform::osShowMessage(text::kUsbResetFailed, text::kApplicationName, platform::kMessageOk);
        const std::string shown = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(shown, "[KVD4093]\n" + c.expected + "\n")
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcCtype ? c.lcCtype : "-") << " " << (c.lang ? c.lang : "-");
    }
}

} // namespace
} // namespace kvd::testing
