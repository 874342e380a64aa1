// KVD4093_VIRTUAL_CARDS's syntax, as the library and the tool both read it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "facts/virtual_card_ids.h"

namespace kvd::facts {
namespace {

// A list is taken whole or refused whole, with the entry that is wrong.
TEST(VirtualCardIds, TakesIdsWithBlanksAroundAndRefusesTheRestSayingWhy) {
    const auto notANumber = [](const char *entry) {
        return std::string("entry 1 (\"") + entry + "\") is not a number from 0 to 255";
    };
    const struct {
        const char *text;
        std::vector<uint8_t> ids;
        std::string error; // empty: taken
    } cases[] = {
        {"7,9,5", {7, 9, 5}, ""}, {" 3 , 4", {3, 4}, ""}, {"", {}, ""},       {"  ", {}, ""},
        {"0,255", {0, 255}, ""},  {"\t8\t", {8}, ""},    {"007", {7}, ""},   {"5,5", {5, 5}, ""},
        {"256", {}, notANumber("256")}, {"-1", {}, notANumber("-1")}, {"a", {}, notANumber("a")},
        {"+1", {}, notANumber("+1")},   {"99999999999999999999", {}, notANumber("99999999999999999999")},
        {"1,,2", {}, "entry 2 is empty"}, {"1,", {}, "entry 2 is empty"}, {",", {}, "entry 1 is empty"},
        {"3, 4 5", {}, "entry 2 (\"4 5\") is not a number from 0 to 255"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<uint8_t> ids{99};
        std::string error;
        EXPECT_EQ(parseVirtualCardIds(c.text, &ids, &error), c.error.empty());
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(error, c.error);
    }
    std::vector<uint8_t> ids{99};
    EXPECT_TRUE(parseVirtualCardIds(nullptr, &ids, nullptr)); // unset: no virtual cards
    EXPECT_TRUE(ids.empty());
}

} // namespace
} // namespace kvd::facts
