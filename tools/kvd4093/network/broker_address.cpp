#include "network/broker_address.h"

#include "common/errors.h"
#include "common/options.h"

namespace kvd::tool {
namespace {

constexpr int kPlainPort = 1883;
constexpr int kTlsPort = 8883;

[[noreturn]] void refuse(std::string_view text, std::string_view what, const std::string &why) {
    throw UsageError(std::string(what) + ": \"" + std::string(text) + "\" " + why);
}

} // namespace

std::string BrokerAddress::shown() const {
    return std::string(tls ? "mqtts://" : "mqtt://") + (user.empty() ? "" : user + "@") + host + ":" +
           std::to_string(port);
}

BrokerAddress parseBrokerAddress(std::string_view text, std::string_view what) {
    BrokerAddress address;
    std::string_view rest = text;
    if (rest.substr(0, 7) == "mqtt://") {
        rest.remove_prefix(7);
    } else if (rest.substr(0, 8) == "mqtts://") {
        address.tls = true;
        rest.remove_prefix(8);
    } else {
        refuse(text, what, "is not mqtt://HOST/PREFIX or mqtts://HOST/PREFIX");
    }
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos || slash + 1 == rest.size())
        refuse(text, what, "names no topic after the host, as mqtt://HOST/PREFIX does");
    std::string_view authority = rest.substr(0, slash);
    address.topic = std::string(rest.substr(slash + 1));
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        address.user = std::string(authority.substr(0, at));
        authority.remove_prefix(at + 1);
        if (address.user.find(':') != std::string::npos)
            refuse(text, what, std::string("holds a password: give it in the environment variable ") +
                                   kPasswordVariable + " instead, where ps does not show it");
    }
    const size_t colon = authority.rfind(':');
    address.host = std::string(authority.substr(0, colon));
    address.port = colon == std::string_view::npos
                       ? (address.tls ? kTlsPort : kPlainPort)
                       : int(parseNumberIn(authority.substr(colon + 1), std::string(what) + "'s port", 1, 65535));
    if (address.host.empty())
        refuse(text, what, "names no host");
    return address;
}

} // namespace kvd::tool
