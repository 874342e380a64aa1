// libkvd4093.so exports exactly the functions the public headers declare,
// under one symbol version, with its SONAME; compared with the headers
// themselves, so the test follows them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kLibrary[] = KVD4093_SHARED_LIBRARY;
constexpr char kIncludeDir[] = KVD4093_INCLUDE_DIR;
constexpr char kNm[] = KVD4093_NM;
constexpr char kObjdump[] = KVD4093_OBJDUMP;
constexpr char kVersion[] = "KVD4093_1.0";

using Names = std::set<std::string>;

std::string commandOutput(const std::string &command) {
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, got);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return output;
}

// Every function a header declares: "KVD4093_CALL <name>(".
Names declaredIn(const fs::path &header) {
    static const std::regex declaration(R"(KVD4093_CALL\s+(\w+)\s*\()");
    const std::string text = readWholeFile(header.string());
    Names names;
    for (std::sregex_iterator match(text.begin(), text.end(), declaration), end; match != end; ++match)
        names.insert((*match)[1]);
    return names;
}

Names declaredInPublicHeaders() {
    Names names;
    // KVD4093_stream.h declares the stream library's functions, which
    // another library exports.
    for (const auto &entry : fs::directory_iterator(kIncludeDir))
        if (entry.path().extension() == ".h" && entry.path().filename() != "KVD4093_stream.h")
            names.merge(declaredIn(entry.path()));
    return names;
}

// Defined symbols as nm lists them ("<address> <type> <name>[@[@]<version>]"),
// without the symbol of the version node itself.
Names definedSymbols(const std::string &nmOptions, std::set<std::string> *versions = nullptr) {
    Names names;
    std::istringstream lines(commandOutput(std::string(kNm) + " " + nmOptions + " --defined-only " + kLibrary));
    std::string address, type, symbol;
    while (lines >> address >> type >> symbol) {
        const size_t at = symbol.find('@');
        if (at != std::string::npos && versions != nullptr)
            versions->insert(symbol.substr(symbol.find_first_not_of('@', at)));
        if (type == "A" && symbol == kVersion)
            continue;
        names.insert(symbol.substr(0, at));
    }
    return names;
}

std::string listed(const Names &names) {
    std::string out;
    for (const std::string &name : names)
        out += " " + name;
    return out;
}

TEST(ExportsTest, TheHeaderDeclaresFortyFiveFunctions) {
    const Names names = declaredIn(fs::path(kIncludeDir) / "KVD4093.h");
    EXPECT_EQ(names.size(), 45u) << listed(names);
    for (const char *name : {"BulkRead", "USB_Reset", "KVD4093_SetDeviceTrigLevel", "KVD4093_GetAppPath", "KVD4093_getch"})
        EXPECT_EQ(names.count(name), 1u) << name;
}

TEST(ExportsTest, TheLibraryExportsNothingButDeclaredFunctionsAllUnderOneVersion) {
    std::set<std::string> versions;
    const Names exported = definedSymbols("-D", &versions);
    const Names declared = declaredInPublicHeaders();
    Names extra;
    for (const std::string &name : exported)
        if (declared.count(name) == 0)
            extra.insert(name);
    EXPECT_TRUE(extra.empty()) << "exported but not declared:" << listed(extra);
    EXPECT_FALSE(exported.empty());
    EXPECT_EQ(versions, std::set<std::string>{kVersion});
}

TEST(ExportsTest, EveryDeclaredFunctionTheLibraryDefinesIsExported) {
    const Names exported = definedSymbols("-D");
    const Names everything = definedSymbols(""); // the full symbol table, local symbols included
    Names hidden;
    for (const std::string &name : declaredInPublicHeaders())
        if (everything.count(name) != 0 && exported.count(name) == 0)
            hidden.insert(name);
    EXPECT_TRUE(hidden.empty()) << "defined but not exported (missing from kvd4093.map?):" << listed(hidden);
}

// A declared function the library does not export fails, built or not (the
// test before tells the hidden ones apart).
TEST(ExportsTest, EveryDeclaredFunctionIsExported) {
    const Names exported = definedSymbols("-D");
    Names missing;
    for (const std::string &name : declaredInPublicHeaders())
        if (exported.count(name) == 0)
            missing.insert(name);
    EXPECT_TRUE(missing.empty()) << "declared but not exported:" << listed(missing);
}

TEST(ExportsTest, TheLibraryCarriesItsSonameAndVersion) {
    const std::string headers = commandOutput(std::string(kObjdump) + " -p " + kLibrary);
    EXPECT_TRUE(std::regex_search(headers, std::regex(R"(SONAME\s+libkvd4093\.so\.1\n)"))) << headers;
    EXPECT_TRUE(std::regex_search(headers, std::regex(R"(Version definitions:[\s\S]*KVD4093_1\.0)"))) << headers;
    EXPECT_EQ(fs::path(kLibrary).filename(), "libkvd4093.so.1.0.0");
}

} // namespace
} // namespace kvd::testing
