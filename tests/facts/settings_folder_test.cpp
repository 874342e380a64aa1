// The settings file's folder from XDG_CONFIG_HOME and HOME.
#include <gtest/gtest.h>

#include "facts/settings_folder.h"

namespace kvd::facts {
namespace {

TEST(SettingsFolder, AnAbsoluteXdgConfigHomeElseHomesConfig) {
    const struct {
        const char *xdg, *home;
        std::optional<std::string> folder;
    } cases[] = {
        {"/x/config", "/home/u", "/x/config"}, {nullptr, "/home/u", "/home/u/.config"},
        {"relative", "/home/u", "/home/u/.config"}, {"", "/home/u", "/home/u/.config"},
        {nullptr, "relative", std::nullopt}, {nullptr, nullptr, std::nullopt}, {"/x", nullptr, "/x"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(settingsFolder(c.xdg, c.home), c.folder) << (c.xdg ? c.xdg : "(unset)");
}

} // namespace
} // namespace kvd::facts
