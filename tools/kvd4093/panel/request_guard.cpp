#include "panel/request_guard.h"

#include <algorithm>
#include <cctype>
#include <random>

namespace kvd::tool::panel {
namespace {

constexpr int kTokenDigits = 32;

bool equalWithoutCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::string makeToken() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::random_device source; // /dev/urandom on Linux
    std::string token;
    while (token.size() < kTokenDigits) {
        const uint32_t bits = source();
        for (int nibble = 0; nibble < 8 && token.size() < kTokenDigits; ++nibble)
            token.push_back(kDigits[(bits >> (4 * nibble)) & 0xF]);
    }
    return token;
}

bool sameSecret(std::string_view given, std::string_view secret) {
    unsigned difference = given.size() == secret.size() ? 0u : 1u;
    for (size_t i = 0; i < secret.size(); ++i)
        difference |= unsigned(static_cast<unsigned char>(i < given.size() ? given[i] : 0) ^
                               static_cast<unsigned char>(secret[i]));
    return difference == 0;
}

std::optional<std::string_view> queryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const size_t end = std::min(query.find('&'), query.size());
        const std::string_view pair = query.substr(0, end);
        const size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name)
            return pair.substr(equals + 1);
        query.remove_prefix(std::min(end + 1, query.size()));
    }
    return std::nullopt;
}

RequestGuard::RequestGuard(std::string token, std::vector<std::string> hosts, int port)
    : token_(std::move(token)), hosts_(std::move(hosts)), port_(port) {}

bool RequestGuard::namesThePanel(std::string_view hostAndPort) const {
    const std::string port = std::string(1, ':').append(std::to_string(port_));
    return std::any_of(hosts_.begin(), hosts_.end(),
                       [&](const std::string &host) { return equalWithoutCase(hostAndPort, host + port); });
}

std::optional<std::string> RequestGuard::refusal(std::string_view query, std::optional<std::string_view> host,
                                                 std::optional<std::string_view> origin) const {
    const std::optional<std::string_view> token = queryValue(query, "token");
    if (!token || !sameSecret(*token, token_))
        return "the token is missing or wrong: open the address the panel printed";
    if (!host || !namesThePanel(*host))
        return "the Host header does not name the panel";
    constexpr std::string_view kScheme = "http://";
    if (origin && (origin->substr(0, kScheme.size()) != kScheme || !namesThePanel(origin->substr(kScheme.size()))))
        return "the Origin header names another site";
    return std::nullopt;
}

} // namespace kvd::tool::panel
