// `cmake --install` of the build puts the tool beside the library: it runs
// from the install with no loader variable, its bash completion completes
// commands and options, and its manual page, where help2man made one, is
// the tool's own help.
#include <filesystem>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

// The build tree the tool was built in: the folder above its bin/.
std::string buildTree() { return std::filesystem::path(KVD4093_TOOL_PATH).parent_path().parent_path().string(); }

ChildResult shell(const std::string &folder, const std::string &script) {
    return runChild("/bin/sh", {"-c", script}, folder, {{"LD_LIBRARY_PATH", std::nullopt}});
}

class ToolInstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix_ = new TempDir;
        installed_ = new ChildResult(
            shell(prefix_->path(), "cmake --install '" + buildTree() + "' --prefix '" + prefix_->path() + "/usr'"));
    }
    static void TearDownTestSuite() {
        delete installed_;
        delete prefix_;
    }
    void SetUp() override { ASSERT_EQ(installed_->exitCode, 0) << installed_->out << installed_->err; }
    static std::string installed(const std::string &file) { return prefix_->file("usr/" + file); }

    static TempDir *prefix_;
    static ChildResult *installed_;
};

TempDir *ToolInstallTest::prefix_ = nullptr;
ChildResult *ToolInstallTest::installed_ = nullptr;

TEST_F(ToolInstallTest, TheInstalledToolRunsWithTheInstalledLibrary) {
    const ChildResult result = runChild(installed("bin/kvd4093"), {"--version"}, prefix_->path(),
                                        {{"LD_LIBRARY_PATH", std::nullopt}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> lines = linesOf(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    const std::string library = std::filesystem::canonical(installed("lib")).string() + "/libkvd4093.so.";
    EXPECT_EQ(lines[1].rfind("library: " + library, 0), 0u) << result.out;
}

struct Completion {
    std::string line; // the words typed, the last being completed
    std::string expected;
};

TEST_F(ToolInstallTest, BashCompletionCompletesCommandsAndOptions) {
    const std::string script = installed("share/bash-completion/completions/kvd4093");
    ASSERT_TRUE(std::filesystem::exists(script));
    for (const Completion &completion : {Completion{"kvd4093 acq", "acquire"},
                                         Completion{"kvd4093 acquire --scan", "--scan-rate"},
                                         Completion{"kvd4093 acquire --format b", "bin"},
                                         Completion{"kvd4093 settings sh", "show"},
                                         Completion{"kvd4093 --virtual di --car", "--card"},
                                         Completion{"kvd4093 doc", "doctor"},
                                         Completion{"kvd4093 doctor --udev", "--udev-rules"}}) {
        const ChildResult result = runChild("/bin/bash",
                                            {"-c", "source \"$0\"; COMP_WORDS=($1); COMP_CWORD=$((${#COMP_WORDS[@]} - 1));"
                                                   " _kvd4093; echo \"${COMPREPLY[*]}\"",
                                             script, completion.line},
                                            prefix_->path());
        EXPECT_EQ(result.out, completion.expected + "\n") << completion.line << result.err;
    }
}

TEST_F(ToolInstallTest, ManualPageIsTheToolsOwnHelpWhereHelp2manMadeIt) {
    const std::string page = installed("share/man/man1/kvd4093.1");
    if (!std::filesystem::exists(page))
        GTEST_SKIP() << "help2man was not found at build time";
    const std::string text = readWholeFile(page);
    EXPECT_NE(text.find(".TH KVD4093 \"1\""), std::string::npos) << text.substr(0, 300);
    EXPECT_EQ(text.find(buildTree()), std::string::npos) << "the page names no folder of the build";
    for (const std::string command : {"list", "acquire", "settings", "log"})
        EXPECT_NE(text.find(command), std::string::npos) << command;
}

} // namespace
} // namespace kvd::testing
