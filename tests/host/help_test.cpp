// The help document: its path shown first, the "not found" box, result 1;
// and the POSIX program start behind it, with WinExec's results.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "core/messages.h"
#include "platform/platform.h"
#include "support/config_home.h"
#include "support/scoped_variable.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

// A shell script that leaves a file "ran" beside itself.
void writeMarkerScript(const std::string &path) {
    std::ofstream(path) << "#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran\"\n";
    chmod(path.c_str(), 0755);
}

bool appears(const std::string &path) {
    struct stat info {};
    for (int i = 0; i < 5000; ++i) {
        if (stat(path.c_str(), &info) == 0 && info.st_size > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

class HelpTest : public ::testing::Test {
protected:
    // Stores an installation folder, and makes its Help folder when asked.
    void install(const std::string &folder, bool withHelpFolder) {
        ASSERT_TRUE(platform::writeProfileString("", "AppPath", folder.c_str()));
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        if (withHelpFolder) {
            ASSERT_EQ(mkdir((folder + "/Help").c_str(), 0755), 0);
        }
    }
    std::vector<std::string> shownTexts() const {
        std::vector<std::string> texts;
        for (const Message &box : messages_.messages())
            texts.push_back(box.text);
        return texts;
    }

    ConfigHome settings_;
    TempDir dir_;
    CapturedMessages messages_;
};

TEST_F(HelpTest, DefaultFolderShowsThePathFirstThenThatItIsNotFound) {
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_BrowseHelpInfo(12345), 1); // the argument means nothing
    const std::vector<Message> boxes = messages_.messages();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "C:\\OLM\\KVD4093\\Help\\KVD4093S.Doc");
    EXPECT_EQ(boxes[1].text, "this help Info Path not found...");
    for (const Message &box : boxes) {
        EXPECT_EQ(box.caption, "KVD4093");
        EXPECT_EQ(box.style, 0u);
    }
    EXPECT_TRUE(entriesSince(before).empty());
}

TEST_F(HelpTest, StoredGbkFolderIsShownAsStoredAndAMissingFileSaysNothingMore) {
    const std::string folder = dir_.file("\xca\xfd\xbe\xdd"); // "数据"
    install(folder, true);
    EXPECT_EQ(KVD4093_BrowseHelpInfo(0), 1);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{folder + "\\Help\\KVD4093S.Doc"});
}

TEST_F(HelpTest, MissingHelpFolderIsAPathNotFound) {
    install(dir_.file("olm"), false);
    EXPECT_EQ(KVD4093_BrowseHelpInfo(0), 1);
    EXPECT_EQ(shownTexts(), std::vector<std::string>({dir_.file("olm") + "\\Help\\KVD4093S.Doc",
                                                      "this help Info Path not found..."}));
}

TEST_F(HelpTest, TheDocumentIsStartedAfterThePathIsShown) {
    install(dir_.file("olm"), true);
    writeMarkerScript(dir_.file("olm/Help/KVD4093S.Doc"));
    EXPECT_EQ(KVD4093_BrowseHelpInfo(0), 1);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{dir_.file("olm") + "\\Help\\KVD4093S.Doc"});
    EXPECT_TRUE(appears(dir_.file("olm/Help/ran")));
}

TEST_F(HelpTest, AFolderLongerThanTheAnnouncedBufferIsCutByTheFolderQuery) {
    const std::string folder = "/" + std::string(199, 'a'); // never made: only the text matters
    ASSERT_TRUE(platform::writeProfileString("", "AppPath", folder.c_str()));
    EXPECT_EQ(KVD4093_BrowseHelpInfo(0), 1);
    ASSERT_FALSE(shownTexts().empty());
    EXPECT_EQ(shownTexts()[0], folder.substr(0, 127) + "\\Help\\KVD4093S.Doc");
}

struct StartCase {
    const char *name;
    std::string commandLine;
    uint32_t result;
};

TEST(ProgramStartTest, AnswersAsWinExecDoes) {
    TempDir dir;
    mkdir(dir.file("Help").c_str(), 0755);
    std::ofstream(dir.file("Help/document.doc")) << "text";
    TempDir emptyPath;
    const ScopedVariable noOpener("PATH", emptyPath.path().c_str());
    const StartCase cases[] = {
        {"empty", "", 2},
        {"folder missing", dir.file("Missing/KVD4093S.Doc"), 3},
        {"folder missing, Windows separators", dir.path() + "\\Missing\\KVD4093S.Doc", 3},
        {"below a file", dir.file("Help/document.doc/x"), 3},
        {"file missing", dir.file("Help/KVD4093S.Doc"), 2},
        {"file missing, Windows separators", dir.path() + "\\Help\\KVD4093S.Doc", 2},
        {"a folder", dir.file("Help"), 11},
        {"a document and nothing that opens it", dir.path() + "\\Help\\document.doc", 11},
    };
    for (const StartCase &c : cases)
        EXPECT_EQ(platform::startProgram(c.commandLine.c_str(), 0), c.result) << c.name;
    EXPECT_EQ(platform::startProgram(nullptr, 0), 2u);
}

TEST(ProgramStartTest, StartsAProgramAndDoesNotWaitForIt) {
    TempDir dir;
    mkdir(dir.file("Help").c_str(), 0755);
    writeMarkerScript(dir.file("Help/KVD4093S.Doc"));
    EXPECT_GT(platform::startProgram((dir.path() + "\\Help\\KVD4093S.Doc").c_str(), 0), 31u);
    EXPECT_TRUE(appears(dir.file("Help/ran")));
}

} // namespace
} // namespace kvd::testing
