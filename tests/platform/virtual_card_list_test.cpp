// KVD4093_VIRTUAL_CARDS: the backend it selects (its syntax: tests/facts).
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/virtual/virtual_card.h"
#include "facts/virtual_card_ids.h"

namespace kvd::vcard {
namespace {

// The environment is read once per process, so each case runs in a child
// process of its own; the child's exit code says which check failed.
void setVariable(const char *value) {
#ifdef _WIN32
    _putenv_s(facts::kVirtualCardsVariable, value);
#else
    setenv(facts::kVirtualCardsVariable, value, 1);
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
