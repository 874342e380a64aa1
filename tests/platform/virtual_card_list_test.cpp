// KVD4093_VIRTUAL_CARDS: the list's syntax and the backend it selects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/virtual/virtual_card.h"

namespace kvd::vcard {
namespace {

TEST(VirtualCardList, AcceptsIdsWithBlanksAround) {
    struct Case {
        const char *text;
        std::vector<uint8_t> ids;
    };
    const Case cases[] = {
        {"7,9,5", {7, 9, 5}}, {" 3 , 4", {3, 4}},      {"", {}},        {"  ", {}},
        {"0,255", {0, 255}},  {"\t8\t", {8}},          {"007", {7}},    {"5,5", {5, 5}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<uint8_t> ids{99};
        std::string error = "untouched";
        EXPECT_TRUE(parseCardList(c.text, &ids, &error));
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(error, "untouched");
    }
    std::vector<uint8_t> ids{99};
    EXPECT_TRUE(parseCardList(nullptr, &ids, nullptr));
    EXPECT_TRUE(ids.empty());
}

TEST(VirtualCardList, RefusesMalformedListsAndSaysWhy) {
    struct Case {
        const char *text;
        const char *error;
    };
    const Case cases[] = {
        {"256", "entry 1 (\"256\") is not a number from 0 to 255"},
        {"-1", "entry 1 (\"-1\") is not a number from 0 to 255"},
        {"a", "entry 1 (\"a\") is not a number from 0 to 255"},
        {"1,,2", "entry 2 is empty"},
        {"1,", "entry 2 is empty"},
        {",", "entry 1 is empty"},
        {"3, 4 5", "entry 2 (\"4 5\") is not a number from 0 to 255"},
        {"99999999999999999999", "entry 1 (\"99999999999999999999\") is not a number from 0 to 255"},
        {"+1", "entry 1 (\"+1\") is not a number from 0 to 255"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<uint8_t> ids{99};
        std::string error;
        EXPECT_FALSE(parseCardList(c.text, &ids, &error));
        EXPECT_TRUE(ids.empty());
        EXPECT_EQ(error, c.error);
    }
}

// The environment is read once per process, so each case runs in a child
// process of its own; the child's exit code says which check failed.
void setVariable(const char *value) {
#ifdef _WIN32
    _putenv_s(kEnvironmentVariable, value);
#else
    setenv(kEnvironmentVariable, value, 1);
#endif
}

int environmentListsCards() {
    setVariable("7,9");
    const platform::CardBackend *selected = backendFromEnvironment();
    if (selected != &backend() || backendFromEnvironment() != &backend())
        return 1;
    if (&platform::activeCardBackend() != &backend() || cardCount() != 2 || card(1).physicalId() != 9)
        return 2;
    install({4});
    uninstall(); // the environment's cards come back
    if (cardCount() != 2 || card(0).physicalId() != 7)
        return 3;
    return 0;
}

int malformedEnvironmentListsNone() {
    setVariable("1,,2");
    for (int i = 0; i < 3; ++i)
        if (backendFromEnvironment() != nullptr)
            return 1;
    return cardCount() == 0 ? 0 : 2;
}

int emptyEnvironmentListsNone() {
    setVariable("");
    return backendFromEnvironment() == nullptr && cardCount() == 0 ? 0 : 1;
}

class VirtualCardEnvironment : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(VirtualCardEnvironment, ListedCardsAreInstalledOnFirstUse) {
    EXPECT_EXIT(std::exit(environmentListsCards()), ::testing::ExitedWithCode(0), "^$");
}

TEST_F(VirtualCardEnvironment, MalformedListSaysWhyOnceAndListsNone) {
    EXPECT_EXIT(std::exit(malformedEnvironmentListsNone()), ::testing::ExitedWithCode(0),
                "^KVD4093_VIRTUAL_CARDS ignored: entry 2 is empty\n$");
}

TEST_F(VirtualCardEnvironment, EmptyListSelectsNoBackend) {
    EXPECT_EXIT(std::exit(emptyEnvironmentListsNone()), ::testing::ExitedWithCode(0), "^$");
}

} // namespace
} // namespace kvd::vcard
