// What Windows shows of the cards: the present interfaces of the card's
// device-interface class, which the library opens, and the state of the
// driver service behind each.
#pragma once

#include <string>
#include <vector>

namespace kvd::tool {

// The card's device-interface class, as the registry spells it.
constexpr char kCardClassText[] = "{6B1D4093-2F7A-4C55-9E13-A0C4D7E25B18}";

struct CardInterface {
    std::string path;    // "\\?\ROOT#KVD4093#0000#{...}"
    std::string service; // the driver service the device names; empty when it names none
};

// The present interfaces of the class, in the order the library numbers them.
std::vector<CardInterface> cardInterfaces();

struct ServiceState {
    bool installed = false;
    bool running = false;
    std::string text; // "running", "stopped", ...; "not installed"
};

ServiceState serviceState(const std::string &service);

} // namespace kvd::tool
