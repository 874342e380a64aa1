// panel: the card's test panel in a browser, served by the tool itself.
#include "card/card.h"
#include "commands/commands.h"
#include "common/errors.h"

#if defined(KVD4093_TOOL_HAVE_PANEL)
#include "panel/panel_main.h"
#endif

namespace kvd::tool {

const OptionTable &panelOptions() {
    static const OptionTable table = {
        {"",
         {{.name = "port", .value = "N", .help = "the port to listen on (default 8093; 0: any free port)"},
          {.name = "bind",
           .value = "ADDRESS",
           .help = "the IPv4 address to listen on (default 127.0.0.1, this\n"
                   "machine only); another address lets other machines in,\n"
                   "unencrypted, and is warned of"},
          {.name = "open", .help = "open the address in the desktop's browser"},
          {.name = "exit-with-page", .help = "end when the last tab has been closed (exit status 0)"}}},
        cardOptions()};
    return table;
}

std::string panelHelp() {
    return std::string("Usage: kvd4093 panel [--card N[,N...] | --id P[,P...] | --virtual[=IDS]] [--port 8093]\n"
                       "                     [--bind 127.0.0.1] [--open] [--exit-with-page]\n"
                       "\n"
                       "Serves the card's test panel to a browser and prints its address, which\n"
                       "holds a random token: only who has the address can use the panel. The page\n"
                       "shows the cards, drives the analog inputs (settings, start and stop, a live\n"
                       "chart, the trigger level), records to a file in the folder the panel runs\n"
                       "in (any output format of acquire, or .svg for a plot), shows the digital\n"
                       "inputs and sets the outputs, writes\n"
                       "the DA channels, and shows the library's error log and, when KVD4093_TRACE\n"
                       "is set, the newest driver requests. Several tabs may watch; all show the same.\n"
                       "A list (--card 0,1 or --id 7,9) opens a group on one clock, as acquire does:\n"
                       "the chart and the recordings hold every card's channels (ID7:ch0, ...).\n"
                       "Ctrl-C, SIGTERM or SIGHUP stop the card as `acquire` does and end the panel\n"
                       "(exit status 128 + the signal's number).\n"
                       "\n") +
           optionHelp(panelOptions()) +
#if defined(KVD4093_TOOL_HAVE_PANEL)
           "\nExample: kvd4093 panel --virtual=7,9 --open\n";
#else
           "\nThis kvd4093 was built without the panel: civetweb and nlohmann-json were not\n"
           "found when it was built (Debian: apt-get install libcivetweb-dev nlohmann-json3-dev).\n";
#endif
}

int runPanel(Arguments &arguments) {
#if defined(KVD4093_TOOL_HAVE_PANEL)
    panel::PanelOptions options;
    options.cards = takeCardChoices(arguments);
    if (const std::optional<std::string> port = arguments.value("port"))
        options.port = static_cast<int>(parseNumberIn(*port, "--port", 0, 65535));
    if (const std::optional<std::string> bind = arguments.value("bind")) {
        if (!panel::isIpv4Address(*bind))
            throw UsageError("--bind: \"" + *bind + "\" is not an IPv4 address such as 127.0.0.1");
        options.bind = *bind;
    }
    options.openBrowser = arguments.flag("open");
    options.exitWithPage = arguments.flag("exit-with-page");
    arguments.expectAllTaken();
    return panel::servePanel(options);
#else
    (void)arguments;
    throw ToolError("this kvd4093 was built without the panel: civetweb and nlohmann-json were not found when it "
                    "was built (Debian: apt-get install libcivetweb-dev nlohmann-json3-dev, then build again)");
#endif
}

} // namespace kvd::tool
