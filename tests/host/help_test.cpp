// The help document: its path shown first, the "not found" box, result 1;
// and the POSIX program start behind it, with WinExec's results.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "diagnostics/messages.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char *name, const std::string &value) : name_(name) {
        if (const char *old = std::getenv(name))
            old_ = old;
        hadOld_ = std::getenv(name) != nullptr;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (hadOld_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char *name_;
    std::string old_;
    bool hadOld_ = false;
};

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
    TempDir settings_;
    ScopedEnvironment settingsHome_{"XDG_CONFIG_HOME", settings_.path()};
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
    const ScopedEnvironment noOpener("PATH", emptyPath.path());
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
