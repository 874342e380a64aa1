// `cmake --install` of the build puts the tool beside the library: it runs
// from the install with no loader variable, its bash completion completes
// commands, options and the record's fields, and its manual page, where
// help2man made one from the tool's own help, is a whole one.
#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <sstream>
#include <regex>
#include <set>

#include <gtest/gtest.h>

#include "output/formats.h"
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

// What bash completion offers for these words, the last (which may be
// empty) being completed.
std::set<std::string> completionsOf(const std::string &script, const std::vector<std::string> &words,
                                    const std::string &folder) {
    std::vector<std::string> arguments = {"-c",
                                          "source \"$0\"; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1));"
                                          " _kvd4093; printf '%s\\n' \"${COMPREPLY[@]}\"",
                                          script};
    arguments.insert(arguments.end(), words.begin(), words.end());
    std::set<std::string> offered;
    for (const std::string &line : linesOf(runChild("/bin/bash", arguments, folder).out))
        if (!line.empty())
            offered.insert(line);
    return offered;
}

// What bash completion offers for the words typed, the last being completed.
std::string completions(const std::string &script, const std::string &line, const std::string &folder) {
    return runChild("/bin/bash",
                    {"-c", "source \"$0\"; COMP_WORDS=($1); COMP_CWORD=$((${#COMP_WORDS[@]} - 1));"
                           " _kvd4093; echo \"${COMPREPLY[*]}\"",
                     script, line},
                    folder)
        .out;
}

TEST_F(ToolInstallTest, BashCompletionCompletesCommandsOptionsAndTheRecordsFields) {
    const std::string script = installed("share/bash-completion/completions/kvd4093");
    ASSERT_TRUE(std::filesystem::exists(script));
    for (const Completion &completion : {Completion{"kvd4093 acq", "acquire"},
                                         Completion{"kvd4093 acquire --format b", "bin"},
                                         Completion{"kvd4093 acquire -f c", "csv"},
                                         Completion{"kvd4093 acquire --format h", "h5"},
                                         Completion{"kvd4093 conv", "convert"},
                                         Completion{"kvd4093 settings sh", "show"},
                                         Completion{"kvd4093 --virtual di --car", "--card"},
                                         Completion{"kvd4093 doc", "doctor"},
                                         Completion{"kvd4093 settings save --input", "--input-range"},
                                         Completion{"kvd4093 acquire --Trig", "--TriggerMode --TriggerSource "
                                                                              "--TriggerType --TriggerDir --TrigWindow"},
                                         Completion{"kvd4093 help acq", "acquire"}})
        EXPECT_EQ(completions(script, completion.line, prefix_->path()), completion.expected + "\n")
            << completion.line;
}

// The options a command's help names, long and short: "--samples", "-n";
// not a placeholder such as --FIELD.
std::vector<std::string> optionsInHelp(const std::string &help) {
    std::vector<std::string> options;
    const std::regex option("(^|[\\s,(\\[|])(--[A-Za-z][-A-Za-z]*|-[A-Za-z])(?=[ =,.)\\[\n])");
    const std::regex placeholder("--[A-Z]+");
    for (auto match = std::sregex_iterator(help.begin(), help.end(), option); match != std::sregex_iterator();
         ++match) {
        const std::string name = (*match)[2];
        if (!std::regex_match(name, placeholder) && std::find(options.begin(), options.end(), name) == options.end())
            options.push_back(name);
    }
    return options;
}

// The man page's text with roff's escapes and fonts taken out.
std::string plainText(std::string page) {
    page = std::regex_replace(page, std::regex(R"(\\f(\(..|\[[^\]]*\]|.)|\\[,/&])"), "");
    return std::regex_replace(page, std::regex(R"(\\-)"), "-");
}

// Every variable the library and the tool read: a name given to getenv or
// environmentVariable, or held by a constant named ...Variable.
std::set<std::string> variablesRead() {
    const std::filesystem::path root = std::filesystem::path(KVD4093_INCLUDE_DIR).parent_path();
    const std::regex read(R"re((?:getenv|environmentVariable)\("([A-Z][A-Z0-9_]*)"\)|)re"
                          R"re(k\w*Variable\w*\[\]\s*=\s*"([A-Z][A-Z0-9_]*)")re");
    std::set<std::string> names;
    for (const std::string folder : {"src", "tools/kvd4093"})
        for (const auto &entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            if (!entry.is_regular_file())
                continue;
            const std::string text = readWholeFile(entry.path().string());
            for (auto match = std::sregex_iterator(text.begin(), text.end(), read); match != std::sregex_iterator();
                 ++match)
                names.insert((*match)[1].matched ? (*match)[1].str() : (*match)[2].str());
        }
    return names;
}

TEST_F(ToolInstallTest, ManualPageHasEveryCommandOptionVariableAndSection) {
    const std::string page = installed("share/man/man1/kvd4093.1");
    if (!std::filesystem::exists(page))
        GTEST_SKIP() << "help2man was not found at build time";
    const std::string text = plainText(readWholeFile(page));
    EXPECT_NE(text.find(".TH KVD4093 \"1\""), std::string::npos) << text.substr(0, 300);
    EXPECT_EQ(text.find(buildTree()), std::string::npos) << "the page names no folder of the build";
    for (const std::string section : {".SH NAME\n", ".SH SYNOPSIS\n", ".SH DESCRIPTION\n", ".SH COMMANDS\n",
                                      ".SH \"EXIT STATUS\"\n", ".SH ENVIRONMENT\n", ".SH FILES\n", ".SH EXAMPLES\n"})
        EXPECT_NE(text.find(section), std::string::npos) << section;
    for (const std::string command : {"list", "acquire", "di", "do", "da", "trig", "settings", "log", "doctor"})
        EXPECT_NE(text.find(".SS \"" + command + ":\"\n"), std::string::npos) << command;

    const size_t environment = text.find(".SH ENVIRONMENT\n");
    const std::string variables = text.substr(environment, text.find(".SH FILES\n") - environment);
    const std::set<std::string> read = variablesRead();
    EXPECT_GT(read.size(), 8u);
    for (const std::string &variable : read)
        EXPECT_NE(variables.find(variable), std::string::npos) << variable << " is read but not in ENVIRONMENT";
    for (const std::string file : {"KVD4093.reg", "KVD4093-virtual.reg", "KVD4093Err.log", "KVD4093_TRACE"})
        EXPECT_NE(text.find(file, text.find(".SH FILES\n")), std::string::npos) << file;
}

// Each command's options as the tool lists them from its option tables:
// "acquire" -> {"--samples", "-n", ...}.
std::map<std::string, std::set<std::string>> optionTables(const std::string &folder) {
    const ChildResult listed = runTool(folder, {"help", "--options"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    std::map<std::string, std::set<std::string>> tables;
    for (const std::string &line : linesOf(listed.out)) {
        std::istringstream words(line);
        std::string command, option;
        words >> command;
        while (words >> option)
            tables[command].insert(option);
    }
    return tables;
}

std::set<std::string> asSet(const std::vector<std::string> &words) { return {words.begin(), words.end()}; }

// The page's section of one command: from its heading to the next command's
// or the next section (the headings of its help's groups are inside).
std::string pageSection(const std::string &page, const std::string &command,
                        const std::map<std::string, std::set<std::string>> &tables) {
    const auto heading = [](const std::string &name) { return ".SS \"" + name + ":\"\n"; };
    const size_t start = page.find(heading(command));
    if (start == std::string::npos)
        return {};
    size_t end = page.find("\n.SH", start);
    for (const auto &[other, options] : tables)
        if (other != command)
            end = std::min(end, page.find(heading(other), start));
    return page.substr(start, end - start);
}

// The help, the manual page and the completion name each option of each
// command's table, and no option the command does not take.
TEST_F(ToolInstallTest, HelpManualPageAndCompletionHoldEachCommandsOptionsAndNoOther) {
    const auto tables = optionTables(prefix_->path());
    ASSERT_EQ(tables.size(), 12u);
    const std::string script = installed("share/bash-completion/completions/kvd4093");
    const std::string pagePath = installed("share/man/man1/kvd4093.1");
    const bool havePage = std::filesystem::exists(pagePath);
    const std::string page = havePage ? plainText(readWholeFile(pagePath)) : std::string();
    for (const auto &[command, options] : tables) {
        EXPECT_GT(options.size(), 1u) << command;
        EXPECT_EQ(asSet(optionsInHelp(runTool(prefix_->path(), {command, "--help"}).out)), options) << command;
        std::istringstream offered(completions(script, "kvd4093 " + command + " -", prefix_->path()));
        EXPECT_EQ(std::set<std::string>(std::istream_iterator<std::string>(offered), {}), options) << command;
        if (havePage) {
            EXPECT_EQ(asSet(optionsInHelp(pageSection(page, command, tables))), options) << command;
        }
    }
    if (!havePage)
        GTEST_SKIP() << "help2man was not found at build time: the page was not compared";
}

// The extensions of a help's lines "FILE.EXT  what it holds".
std::set<std::string> extensionsIn(const std::string &help) {
    std::set<std::string> extensions;
    std::smatch file;
    for (const std::string &line : linesOf(help))
        if (std::regex_search(line, file, std::regex("^\\s*FILE(\\.[a-z0-9]+)(\\s|$)")))
            extensions.insert(file[1]);
    return extensions;
}

// The names a help's --format takes: "whatever its name: csv, bin, ...".
std::set<std::string> namesIn(const std::string &help) {
    std::smatch list;
    if (!std::regex_search(help, list, std::regex("whatever its name:\\s+([a-z0-9]+(,\\s+[a-z0-9]+)*)")))
        return {};
    std::istringstream words(std::regex_replace(list[1].str(), std::regex(","), " "));
    return {std::istream_iterator<std::string>(words), {}};
}

// Every place that lists the output formats offers the format table's rows,
// no more, no fewer: acquire's and convert's help and manual page sections,
// the completion of --format and of --output's file names, and
// `kvd4093 help --formats`, which the completion is made from.
TEST_F(ToolInstallTest, HelpManualPageAndCompletionOfferExactlyTheFormatTable) {
    std::set<std::string> names, extensions;
    TempDir folder; // a file of each format and two of none, for --output
    for (const std::string other : {"run.svg", "run.txt"})
        writeWholeFile(folder.file(other), "");
    for (const tool::OutputFormat &format : tool::outputFormats()) {
        names.insert(std::string(format.name));
        extensions.insert(std::string(format.extension));
        writeWholeFile(folder.file("run" + std::string(format.extension)), "");
    }
    ASSERT_EQ(names.size(), 6u);

    std::map<std::string, std::set<std::string>> namesAt, extensionsAt; // by place
    const std::string script = installed("share/bash-completion/completions/kvd4093");
    const std::string pagePath = installed("share/man/man1/kvd4093.1");
    const bool havePage = std::filesystem::exists(pagePath);
    const std::string page = havePage ? plainText(readWholeFile(pagePath)) : std::string();
    for (const std::string command : {"acquire", "convert"}) {
        const std::string help = runTool(folder.path(), {command, "--help"}).out;
        namesAt[command + " --help"] = namesIn(help);
        extensionsAt[command + " --help"] = extensionsIn(help);
        if (havePage) {
            const std::string section = pageSection(page, command, optionTables(folder.path()));
            namesAt["the manual page's " + command] = namesIn(section);
            extensionsAt["the manual page's " + command] = extensionsIn(section);
        }
        namesAt["the completion of " + command + " --format"] =
            completionsOf(script, {"kvd4093", command, "--format", ""}, folder.path());
    }
    for (const std::string &file : completionsOf(script, {"kvd4093", "acquire", "--output", "run."}, folder.path()))
        extensionsAt["the completion of --output"].insert(file.substr(3));
    for (const std::string &line : linesOf(runTool(folder.path(), {"help", "--formats"}).out)) {
        std::istringstream words(line);
        std::string name, extension;
        if (words >> name >> extension) {
            namesAt["help --formats"].insert(name);
            extensionsAt["help --formats"].insert(extension);
        }
    }
    for (const auto &[place, offered] : namesAt)
        EXPECT_EQ(offered, names) << place;
    for (const auto &[place, offered] : extensionsAt)
        EXPECT_EQ(offered, extensions) << place;
    if (!havePage)
        GTEST_SKIP() << "help2man was not found at build time: the page was not compared";
}

} // namespace
} // namespace kvd::testing
