// collect: the acquisitions published to an MQTT broker, a file each.
#include <filesystem>

#include "commands/commands.h"
#include "common/errors.h"
#include "common/system.h"
#include "network/network.h"
#include "network/topics.h"

namespace kvd::tool {

const OptionTable &collectOptions() {
    static const OptionTable table = {
        {"",
         {{.name = "output",
           .letter = 'o',
           .value = "DIR",
           .help = "the folder the files go to, HOST-ID-RUN.EXT each (made\n"
                   "when missing)"},
          {.name = "format",
           .letter = 'f',
           .value = "NAME",
           .help = "the files' format (default csv): " + formatNames()},
          {.name = "ca", .value = "FILE", .help = "mqtts: the certificate authority of the broker (PEM)"}}}};
    return table;
}

std::string collectHelp() {
    return "Usage: kvd4093 collect mqtt://[USER@]HOST[:PORT]/PREFIX/# --output DIR [--format NAME]\n"
           "\n"
           "Subscribes to what `kvd4093 acquire --publish` sends under PREFIX and writes\n"
           "each run of each publishing card (PREFIX/HOSTNAME/ID) to a file of its own,\n"
           "with the writers of acquire. Where scans never arrived (dropped by the\n"
           "publisher while the broker was away, or lost on the way) the file records a\n"
           "gap. A line is printed as each run starts and ends. The broker keeps the\n"
           "subscription while collect is away. mqtts:// connects with TLS; the password\n"
           "comes from KVD4093_MQTT_PASSWORD. Ctrl-C, SIGTERM or SIGHUP stop it, every\n"
           "file completed (exit status 128 + the signal's number).\n"
           "\n" +
           optionHelp(collectOptions()) +
#if defined(KVD4093_TOOL_HAVE_MQTT)
           "\n"
           "Example:\n"
           "  $ kvd4093 collect mqtt://broker.lab/daq/# --output runs --format h5\n";
#else
           "\nThis kvd4093 was built without libmosquitto: it neither collects nor publishes\n"
           "(Debian: apt-get install libmosquitto-dev, then build again).\n";
#endif
}

int runCollect(Arguments &arguments) {
    CollectRequest request;
    const std::optional<std::string> url = arguments.positional();
    if (!url)
        throw UsageError("collect needs the broker's address: mqtt://HOST[:PORT]/PREFIX/#");
    request.address = parseBrokerAddress(*url, "collect");
    std::string &prefix = request.address.topic;
    if (prefix.size() >= 2 && prefix.compare(prefix.size() - 2, 2, "/#") == 0)
        prefix.resize(prefix.size() - 2);
    checkPrefix(prefix, "collect");
    const std::optional<std::string> folder = arguments.value("output");
    if (!folder)
        throw UsageError("collect needs --output DIR, the folder for the files");
    request.folder = *folder;
    const std::optional<std::string> format = arguments.value("format");
    request.format = &chooseFormat("", format ? format : std::optional<std::string>("csv"));
    const std::optional<std::string> ca = arguments.value("ca");
    if (ca && !request.address.tls)
        throw UsageError("--ca needs an mqtts:// address");
    request.caFile = ca.value_or("");
    arguments.expectAllTaken();
    std::error_code error;
    std::filesystem::create_directories(request.folder, error);
    if (!std::filesystem::is_directory(request.folder))
        throw ToolError(request.folder + ": not a folder the files can go to" +
                        (error ? ": " + error.message() : std::string()));
    watchStopSignals();
    return collect(request);
}

} // namespace kvd::tool
