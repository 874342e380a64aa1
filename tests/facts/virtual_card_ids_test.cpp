// KVD4093_VIRTUAL_CARDS's syntax, as the library and the tool both read it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "facts/virtual_card_ids.h"

namespace kvd::facts {
namespace {

TEST(VirtualCardIds, AcceptsIdsWithBlanksAround) {
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
        EXPECT_TRUE(parseVirtualCardIds(c.text, &ids, &error));
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(error, "untouched");
    }
    std::vector<uint8_t> ids{99};
    EXPECT_TRUE(parseVirtualCardIds(nullptr, &ids, nullptr));
    EXPECT_TRUE(ids.empty());
}

TEST(VirtualCardIds, RefusesMalformedListsAndSaysWhy) {
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
        EXPECT_FALSE(parseVirtualCardIds(c.text, &ids, &error));
        EXPECT_TRUE(ids.empty());
        EXPECT_EQ(error, c.error);
    }
}

} // namespace
} // namespace kvd::facts
