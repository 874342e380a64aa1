// tools/install-packages with stand-ins for the package tools (dpkg-query,
// apt-cache, apt-get, sudo, id) and a list of its own, so that neither the
// machine's packages nor the project's list matter: what it installs,
// through what, and what it says where it cannot.
#if !defined(_WIN32) // a shell script of Debian systems
#include <algorithm>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

const std::string kList = "# a comment\n"
                          "build   alpha beta   # the build\n"
                          "\n"
                          "build   gamma        # the build's extra\n"
                          "tests   beta delta   # the tests\n"
                          "other   omega        # a job not asked for\n";

// Each stand-in answers from the environment and logs what would change the
// machine into calls.log.
const std::vector<std::pair<std::string, std::string>> kStandIns = {
    {"dpkg-query", "for last; do :; done\n"
                   "case \" $STUB_MISSING \" in *\" $last \"*) exit 1;; esac\n"
                   "printf installed\n"},
    {"apt-cache", "case \" $STUB_UNOFFERED \" in *\" $2 \"*) candidate='(none)';; *) candidate=1.0;; esac\n"
                  "printf '%s:\\n  Installed: (none)\\n  Candidate: %s\\n' \"$2\" \"$candidate\"\n"},
    {"apt-get", "echo \"apt-get $*\" >>\"$STUB_LOG\"\n"},
    {"sudo", "printf 'sudo ' >>\"$STUB_LOG\"\nexec \"$@\"\n"},
    {"id", "echo \"$STUB_USER\"\n"},
};

struct InstallCase {
    std::string name;
    std::string jobs;
    std::string missing;   // what dpkg-query says is not installed
    std::string unoffered; // what apt-cache offers no version of
    std::string user;      // what id -u says
    std::vector<std::string> without; // stand-ins left out: no sudo, not Debian
    int exitCode;
    std::vector<std::string> calls; // in order
    std::vector<std::string> said;  // lines the output holds, in order; nothing at all when empty
};

// A package's line in what the script says: its name, then why it is needed.
std::string row(const std::string &package, const std::string &why) {
    return "  " + package + std::string(24 - package.size(), ' ') + why;
}

ChildResult runInstall(const TempDir &dir, const InstallCase &install) {
    const std::filesystem::path source = std::filesystem::path(KVD4093_INCLUDE_DIR).parent_path();
    std::filesystem::create_directories(dir.file("tools"));
    std::filesystem::copy_file(source / "tools/install-packages", dir.file("tools/install-packages"));
    writeWholeFile(dir.file("tools/debian-packages"), kList);
    for (const auto &[name, body] : kStandIns) {
        if (std::find(install.without.begin(), install.without.end(), name) != install.without.end())
            continue;
        writeWholeFile(dir.file("bin/" + name), "#!/bin/sh\n" + body);
        std::filesystem::permissions(dir.file("bin/" + name), std::filesystem::perms::owner_all);
    }
    writeWholeFile(dir.file("calls.log"), "");
    std::vector<std::string> arguments{dir.file("tools/install-packages")};
    std::istringstream jobs(install.jobs);
    for (std::string job; jobs >> job;)
        arguments.push_back(job);
    return runChild("/bin/bash", arguments, dir.path(),
                    {{"PATH", dir.file("bin")},
                     {"STUB_MISSING", install.missing},
                     {"STUB_UNOFFERED", install.unoffered},
                     {"STUB_USER", install.user},
                     {"STUB_LOG", dir.file("calls.log")}});
}

TEST(InstallPackagesTest, InstallsWhatIsMissingThroughWhatThisUserMayUseAndSaysWhy) {
    const std::string user = "1000", root = "0";
    const std::vector<InstallCase> cases = {
        {"everything installed", "build tests", "", "", user, {}, 0, {}, {}},
        {"missing only from a job not asked for", "build tests", "omega", "", user, {}, 0, {}, {}},
        {"missing, through sudo", "build tests", "beta delta", "", user, {}, 0,
         {"sudo apt-get update -qq", "sudo apt-get install -y -qq beta delta"},
         {"The jobs build tests need these Debian packages, not installed here:", row("beta", "the build"),
          row("delta", "the tests"), "installing: sudo apt-get install -y beta delta"}},
        {"missing, as root", "tests", "delta", "", root, {}, 0,
         {"apt-get update -qq", "apt-get install -y -qq delta"}, {"installing: apt-get install -y delta"}},
        {"missing, neither root nor sudo", "build", "alpha gamma", "", user, {"sudo"}, 1, {},
         {row("alpha", "the build"), row("gamma", "the build's extra"),
          "Neither root nor sudo here: install them as root, then run this again:",
          "  apt-get update && apt-get install -y alpha gamma"}},
        {"one not offered by the package sources", "build tests", "alpha delta", "delta", root, {}, 0,
         {"apt-get update -qq", "apt-get install -y -qq alpha"},
         {"not offered by this machine's package sources, left out (what needs it is skipped or fails):",
          row("delta", "the tests"), "installing: apt-get install -y alpha"}},
        {"not a Debian system", "tests", "beta delta", "", user, {"dpkg-query", "apt-get"}, 0, {},
         {row("beta", "the tests"), row("delta", "the tests")}},
        {"every job", "--all", "omega", "", root, {}, 0,
         {"apt-get update -qq", "apt-get install -y -qq omega"}, {row("omega", "a job not asked for")}},
        {"a job the list lacks", "build tset", "alpha", "", root, {}, 2, {}, {}},
    };
    for (const InstallCase &install : cases) {
        TempDir dir;
        const ChildResult result = runInstall(dir, install);
        EXPECT_EQ(result.exitCode, install.exitCode) << install.name << ":\n" << result.out << result.err;
        EXPECT_EQ(linesOf(readWholeFile(dir.file("calls.log"))), install.calls) << install.name;
        if (install.said.empty()) {
            EXPECT_EQ(result.out, "") << install.name;
        }
        const std::vector<std::string> lines = linesOf(result.out);
        auto from = lines.begin();
        for (const std::string &line : install.said) {
            from = std::find(from, lines.end(), line);
            EXPECT_NE(from, lines.end()) << install.name << ": no line \"" << line << "\" in order in:\n" << result.out;
        }
    }
}

} // namespace
} // namespace kvd::testing
#endif
