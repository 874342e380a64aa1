// kvd4093 panel: the card's test panel in a browser (docs/panel.md).
#pragma once

#include <string>
#include <vector>

#include "card/card.h"

namespace kvd::tool::panel {

struct PanelOptions {
    // One card, or a group on one clock (the driving card first).
    std::vector<CardChoice> cards;
    int port = 8093;
    std::string bind = "127.0.0.1";
    bool openBrowser = false;
    bool exitWithPage = false; // end when the last tab has gone
};

// Serves the panel until Ctrl-C, SIGTERM or SIGHUP (exit status 128 + the
// signal's number) or, with exitWithPage, the last tab's going (0).
int servePanel(const PanelOptions &options);

// True for an IPv4 address of the loopback network, 127.0.0.0/8.
bool isLoopback(const std::string &address);
// True for a dotted IPv4 address such as 127.0.0.1.
bool isIpv4Address(const std::string &address);

} // namespace kvd::tool::panel
