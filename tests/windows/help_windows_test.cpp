// The help document on Windows: the path shown first, WinExec's own answer
// deciding the "not found" box, and a document that WinExec starts.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/messages.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

constexpr char kDefaultFolder[] = "C:\\OLM\\KVD4093";

std::string besideThisProgram(const char *name) {
    char path[MAX_PATH];
    const std::string self(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return self.substr(0, self.find_last_of("\\/") + 1) + name;
}

bool appears(const std::string &path) {
    for (int i = 0; i < 5000; ++i) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(1);
    }
    return false;
}

class WindowsHelpTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Olm\\KVD4093"); }

    // Stores an installation folder and makes it, with a Help folder when asked.
    void install(const std::string &folder, bool withHelpFolder) {
        ASSERT_TRUE(platform::writeProfileString("", "AppPath", folder.c_str()));
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        if (withHelpFolder) {
            ASSERT_TRUE(CreateDirectoryA((folder + "\\Help").c_str(), nullptr));
        }
    }
    std::vector<std::string> shownTexts() const {
        std::vector<std::string> texts;
        for (const Message &box : messages_.messages()) {
            EXPECT_EQ(box.caption, text::kApplicationName);
            EXPECT_EQ(box.style, 0u);
            texts.push_back(box.text);
        }
        return texts;
    }

    TempDir dir_;
    CapturedMessages messages_;
};

TEST_F(WindowsHelpTest, ThePathComesFirstAndNotFoundOnlyWhenWinExecAnswersPathNotFound) {
    struct Case {
        const char *name;
        std::string folder;
        bool stored;
        bool withHelpFolder;
    };
    const Case cases[] = {
        {"no stored folder", kDefaultFolder, false, false},
        {"stored GBK folder without Help", dir_.file("\xca\xfd\xbe\xdd"), true, false}, // "数据"
        {"Help folder without the document", dir_.file("olm"), true, true},
    };
    for (const Case &c : cases) {
        if (c.stored)
            install(c.folder, c.withHelpFolder);
        const std::string path = c.folder + "\\Help\\KVD4093S.Doc";
        // The OS's own answer for the document (nothing there to start).
        const UINT answer = WinExec(path.c_str(), SW_HIDE);
        std::vector<std::string> expected{path};
        if (answer == ERROR_PATH_NOT_FOUND)
            expected.push_back(text::kHelpPathNotFound);

        const size_t boxesBefore = messages_.messages().size();
        const size_t logBefore = errorLogStrings();
        EXPECT_EQ(KVD4093_BrowseHelpInfo(12345), 1) << c.name;
        const std::vector<std::string> shown = shownTexts();
        EXPECT_EQ(std::vector<std::string>(shown.begin() + long(boxesBefore), shown.end()), expected) << c.name;
        EXPECT_TRUE(entriesSince(logBefore).empty()) << c.name;
    }
}

TEST_F(WindowsHelpTest, TheDocumentIsStartedAfterThePathIsShown) {
    install(dir_.file("olm"), true);
    const std::string document = dir_.file("olm") + "\\Help\\KVD4093S.Doc";
    // A program under the document's name: WinExec starts whatever it is given.
    ASSERT_TRUE(CopyFileA(besideThisProgram("marker.exe").c_str(), document.c_str(), FALSE));
    EXPECT_EQ(KVD4093_BrowseHelpInfo(0), 1);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{document});
    EXPECT_TRUE(appears(dir_.file("olm") + "\\Help\\ran"));
}

} // namespace
} // namespace kvd::testing
