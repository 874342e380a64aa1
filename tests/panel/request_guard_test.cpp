// Who the panel lets in: the token must be given whole, the Host header must
// name the panel and its port, and an Origin, when there is one, the panel
// too; tokens are random and 128 bits long.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "panel/request_guard.h"

namespace kvd::testing {
namespace {

using namespace tool::panel;

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

struct GuardCase {
    const char *name;
    const char *query;
    const char *host;   // nullptr: no header
    const char *origin; // nullptr: no header
    const char *refusal; // nullptr: let in
};

void PrintTo(const GuardCase &c, std::ostream *out) { *out << c.name; }

class RequestGuardTest : public ::testing::TestWithParam<GuardCase> {};

TEST_P(RequestGuardTest, RefusesWhatDoesNotNameThePanelOrLacksTheToken) {
    const GuardCase c = GetParam();
    const RequestGuard guard(kToken, {"127.0.0.1", "localhost"}, 8093);
    const auto header = [](const char *value) {
        return value ? std::optional<std::string_view>(value) : std::nullopt;
    };
    const std::optional<std::string> refusal = guard.refusal(c.query, header(c.host), header(c.origin));
    if (c.refusal == nullptr)
        EXPECT_EQ(refusal, std::nullopt);
    else
        EXPECT_EQ(refusal.value_or("let in"), c.refusal);
}

constexpr char kNoToken[] = "the token is missing or wrong: open the address the panel printed";
constexpr char kBadHost[] = "the Host header does not name the panel";
constexpr char kBadOrigin[] = "the Origin header names another site";
const std::string kQuery = std::string("token=") + kToken;
const std::string kQueryAmong = std::string("a=1&token=") + kToken + "&b=2";
const std::string kLonger = kQuery + "0";
const std::string kShorter = kQuery.substr(0, kQuery.size() - 1);
const std::string kUpper = "token=0123456789ABCDEF0123456789abcdef";
const std::string kOtherName = std::string("xtoken=") + kToken;

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestGuardTest,
    ::testing::Values(GuardCase{"page", kQuery.c_str(), "127.0.0.1:8093", nullptr, nullptr},
                      GuardCase{"localhost, any case", kQuery.c_str(), "LocalHost:8093", nullptr, nullptr},
                      GuardCase{"own origin", kQuery.c_str(), "127.0.0.1:8093", "http://127.0.0.1:8093", nullptr},
                      GuardCase{"token among others", kQueryAmong.c_str(), "127.0.0.1:8093", nullptr, nullptr},
                      GuardCase{"no token", "", "127.0.0.1:8093", nullptr, kNoToken},
                      GuardCase{"empty token", "token=", "127.0.0.1:8093", nullptr, kNoToken},
                      GuardCase{"longer token", kLonger.c_str(), "127.0.0.1:8093", nullptr, kNoToken},
                      GuardCase{"shorter token", kShorter.c_str(), "127.0.0.1:8093", nullptr, kNoToken},
                      GuardCase{"token in other case", kUpper.c_str(), "127.0.0.1:8093", nullptr, kNoToken},
                      GuardCase{"token under another name", kOtherName.c_str(), "127.0.0.1:8093", nullptr, kNoToken},
                      GuardCase{"no host", kQuery.c_str(), nullptr, nullptr, kBadHost},
                      GuardCase{"host without port", kQuery.c_str(), "127.0.0.1", nullptr, kBadHost},
                      GuardCase{"other port", kQuery.c_str(), "127.0.0.1:8094", nullptr, kBadHost},
                      GuardCase{"rebound name", kQuery.c_str(), "attacker.example:8093", nullptr, kBadHost},
                      GuardCase{"foreign origin", kQuery.c_str(), "127.0.0.1:8093", "http://attacker.example", kBadOrigin},
                      GuardCase{"null origin", kQuery.c_str(), "127.0.0.1:8093", "null", kBadOrigin},
                      GuardCase{"https origin", kQuery.c_str(), "127.0.0.1:8093", "https://127.0.0.1:8093", kBadOrigin},
                      GuardCase{"origin of another port", kQuery.c_str(), "127.0.0.1:8093", "http://localhost:9000",
                                kBadOrigin}));

TEST(TokenTest, ThirtyTwoHexDigitsNeverTheSameTwice) {
    std::set<std::string> tokens;
    for (int i = 0; i < 100; ++i) {
        const std::string token = makeToken();
        EXPECT_EQ(token.size(), 32u);
        EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
        tokens.insert(token);
    }
    EXPECT_EQ(tokens.size(), 100u);
}

TEST(TokenTest, QueryValueTakesTheWholeNameOnly) {
    EXPECT_EQ(queryValue("a=1&token=x&b=2", "token"), "x");
    EXPECT_EQ(queryValue("mytoken=x", "token"), std::nullopt);
    EXPECT_EQ(queryValue("token", "token"), std::nullopt);
    EXPECT_EQ(queryValue("", "token"), std::nullopt);
    EXPECT_EQ(queryValue("&&token=&", "token"), "");
}

} // namespace
} // namespace kvd::testing
