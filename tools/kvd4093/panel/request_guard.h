// Who may talk to the panel. Every request and the WebSocket must carry the
// panel's random token (?token=...), and the Host header must name the panel
// itself, so a page of another site that resolves its own name to this
// machine (DNS rebinding) is turned away; an Origin header, which a browser
// sends with every WebSocket and every cross-site request, must name the
// panel too. A program that is no browser may leave Origin out: the token
// alone admits it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvd::tool::panel {

// 32 random hexadecimal digits (128 bits) from the system's random source.
std::string makeToken();

// Compares in time that does not depend on where the texts differ.
bool sameSecret(std::string_view given, std::string_view secret);

// The value of `name` in a query string "a=1&token=...", undecoded; nullopt when absent.
std::optional<std::string_view> queryValue(std::string_view query, std::string_view name);

class RequestGuard {
public:
    // `hosts` are the names the panel answers to ("127.0.0.1", "localhost"), `port` its port.
    RequestGuard(std::string token, std::vector<std::string> hosts, int port);

    // Why a request is refused, or nullopt when it may go on. A missing
    // header is passed as nullopt.
    std::optional<std::string> refusal(std::string_view query, std::optional<std::string_view> host,
                                       std::optional<std::string_view> origin) const;

    const std::string &token() const { return token_; }

private:
    bool namesThePanel(std::string_view hostAndPort) const;

    std::string token_;
    std::vector<std::string> hosts_;
    int port_;
};

} // namespace kvd::tool::panel
