// acquire: one AD acquisition, to files or standard output, a plot and a summary.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "acquisition/acquisition.h"
#include "card/ad_fields.h"
#include "card/card.h"
#include "card/card_probe.h"
#include "acquisition/channel_summary.h"
#include "acquisition/sync_check.h"
#include "commands/commands.h"
#include "common/errors.h"
#include "card/narrowing.h"
#include "network/network.h"
#include "output/formats.h"
#include "output/output_file.h"
#include "output/svg_plot.h"
#include "common/system.h"
#include "facts/card_limits.h"
#include "facts/channel_count.h"
#include "facts/scan_rate.h"

namespace kvd::tool {

const OptionTable &acquireOptions() {
    static const OptionTable table = [] {
        OptionTable options = {
            {"How much (default: --time 1s):",
             {{.name = "samples", .letter = 'n', .value = "N", .help = "samples per channel, that is scans, e.g. 100k"},
              {.name = "time",
               .letter = 't',
               .value = "T",
               .help = "how long, e.g. 2s, 500ms or 5m; scans = T x scan rate"},
              {.name = "continuous", .help = "until Ctrl-C, SIGTERM or SIGHUP, writing as it goes"}}},
            {"How fast (default: the saved Frequency; --rate below):",
             {{.name = "scan-rate",
               .value = "N",
               .help = "scans a second, that is samples a second of each\n"
                       "channel: --rate = N x the number of channels"}}},
            {"Where to (all optional):",
             {{.name = "output",
               .letter = 'o',
               .value = "FILE",
               .help = "the samples, in the format FILE's extension names:\n" + formatHelp() +
                       "any other name (data, /dev/null, a FIFO) is CSV;\n"
                       "- is standard output (CSV unless --format says\n"
                       "otherwise; bin without a sidecar), the report then\n"
                       "going to standard error"},
              {.name = "format",
               .letter = 'f',
               .value = "NAME",
               .help = "the output's format whatever its name:\n" + formatNames()},
              {.name = "scale",
               .value = "GAIN[,OFFSET][,UNIT]",
               .help = "value = code x GAIN + OFFSET, e.g. 0.000305,-10,V: in\n"
                       "the file's metadata; CSV and .sr write the values"},
              {.name = "plot", .value = "FILE.svg", .help = "the channels over time, a picture for a browser"}}},
            {"When the outputs fall behind (a reader thread reads the card into a queue\n"
             "that the outputs are written from):",
             {{.name = "buffer", .value = "T", .help = "the queue holds T of samples (default 2s, at most 256 MiB)"},
              {.name = "on-overrun",
               .value = "stop|continue",
               .help = "the queue full: stop, keeping every block read (exit 1,\n"
                       "the default), or drop whole blocks, go on, and record\n"
                       "each gap in the file and the summary"},
              {.name = "max-backlog",
               .value = "T",
               .help = "warn once when the reads fall T behind the card's clock:\n"
                       "its own memory may have overflowed (default 1s)"},
              {.name = "reconnect",
               .value = "T",
               .help = "a card pulled out: wait up to T for it to come back\n"
                       "(default: no limit with --continuous, else 60s), start it\n"
                       "again with the same record and outputs, record the gap",
               .valueOptional = true}}},
        };
        options.push_back(
            {"A group of cards (--card 0,1 or --id 7,9: the first card's clock drives the\n"
             "others; every card takes the same channels, rate and record):",
             {{.name = "clock",
               .value = "shared|independent",
               .help = "shared: the first card drives its clock out, the others\n"
                       "convert on the clock they receive (the default);\n"
                       "independent: every card on its own clock"},
              {.name = "clock-codes",
               .value = "OUT,IN",
               .help = "the record's bClockOutput of the first card and\n"
                       "ClockSource of the others (default 1,1, our cards' codes)"},
              {.name = "check-sync",
               .value = "CH",
               .help = "check the wiring: with one signal on channel CH of every\n"
                       "card, print how many scans each card lags the first\n"
                       "(exit 1 when any lag is not 0)"}}});
        options.push_back(publishOptions());
        append(options, recordOptions("The record (only what is given changes the saved settings):"));
        options.push_back(cardOptions("The card:"));
        return options;
    }();
    return table;
}

std::string acquireHelp() {
    return "Usage: kvd4093 acquire [options]\n"
           "\n"
           "Runs one AD acquisition: starts the card with the card's saved settings\n"
           "(KVD4093_LoadParaAD) changed by the options below, reads whole scans (one\n"
           "sample of each channel, in order) in blocks of about 50 ms, stops, and prints\n"
           "the lowest, highest and mean code of each channel. Ctrl-C, SIGTERM or SIGHUP\n"
           "stop early and keep what was acquired (the files stay valid; exit status\n"
           "128 + the signal's number: 130 for Ctrl-C).\n"
           "\n" +
           optionHelp(acquireOptions()) +
           "\n"
           "Every output path is checked before the card is touched. A file takes its\n"
           "name once it is complete (CSV and bin at their first block, so that they can\n"
           "be followed): a run that fails leaves an earlier file as it was. A field the\n"
           "card takes narrowed (--InputRange 99 reaches it as 3) is sent as given, with a\n"
           "warning on standard error. Samples are codes 0 to 65535, offset binary (32768\n"
           "is zero).\n"
           "Numbers take k (x1000) or M (x1000000), durations ms, s, m or h: -r 25k, -t 5m.\n"
           "\n"
           "Examples, on a virtual card:\n"
           "  $ kvd4093 acquire --virtual --channels 0-3 -r 100k -t 2s -o run.csv --plot run.svg\n"
           "  $ kvd4093 acquire --virtual --continuous -o - | head -5\n";
}

namespace {

constexpr double kDefaultSeconds = 1.0;
// --reconnect alone, without --continuous: how long a card pulled out is waited for.
constexpr float kDefaultReconnectSeconds = 60;
constexpr int64_t kMostScans = int64_t(1) << 40;

struct AcquireRequest {
    std::vector<CardChoice> cards; // the clock's driver first
    RecordOptions record;
    std::optional<int64_t> scans;
    double seconds = kDefaultSeconds;
    bool continuous = false;
    std::optional<int64_t> scanRate;
    std::optional<std::string> output;
    const OutputFormat *format = nullptr; // with output
    Scale scale;
    std::optional<std::string> plot;
    Streaming streaming;
    std::optional<int32_t> checkSync; // the channel of the wiring check
    std::optional<PublishRequest> publish;

    bool streams() const { return output && *output == kStandardOutput; }
};

void takeAmount(Arguments &arguments, AcquireRequest &request) {
    const std::optional<std::string> samples = arguments.value("samples");
    const std::optional<std::string> time = arguments.value("time");
    request.continuous = arguments.flag("continuous");
    if (int(samples.has_value()) + int(time.has_value()) + int(request.continuous) > 1)
        throw UsageError("give one of --samples, --time and --continuous");
    if (samples)
        request.scans = parseNumberIn(*samples, "--samples", 1, kMostScans);
    if (time)
        request.seconds = parseDuration(*time, "--time");
}

void takeScanRate(Arguments &arguments, AcquireRequest &request) {
    const std::optional<std::string> scanRate = arguments.value("scan-rate");
    if (!scanRate)
        return;
    if (request.record.sets(&ADPara::Frequency))
        throw UsageError("give --scan-rate or --rate (--Frequency), not both");
    request.scanRate = parseNumberIn(*scanRate, "--scan-rate", 1, facts::kTimeBaseHz);
}

// The output's format: --format, else the name's extension, else CSV.
void takeOutput(Arguments &arguments, AcquireRequest &request) {
    request.output = arguments.value("output");
    const std::optional<std::string> format = arguments.value("format");
    if (format && !request.output)
        throw UsageError("--format needs --output");
    if (request.output)
        request.format = &chooseFormat(*request.output, format);
    if (const std::optional<std::string> scale = arguments.value("scale")) {
        if (!request.output)
            throw UsageError("--scale needs --output");
        request.scale = parseScale(*scale);
    }
}

void takeStreaming(Arguments &arguments, Streaming &streaming) {
    if (const std::optional<std::string> buffer = arguments.value("buffer"))
        streaming.bufferSeconds = parseDuration(*buffer, "--buffer");
    if (const std::optional<std::string> choice = arguments.value("on-overrun")) {
        if (*choice != "stop" && *choice != "continue")
            throw UsageError("--on-overrun: \"" + *choice + "\" is not stop or continue");
        streaming.onOverrun = *choice == "stop" ? KVD4093_STREAM_STOP : KVD4093_STREAM_CONTINUE;
    }
    if (const std::optional<std::string> backlog = arguments.value("max-backlog"))
        streaming.maxBacklogSeconds = parseDuration(*backlog, "--max-backlog");
}

void takeReconnect(Arguments &arguments, AcquireRequest &request) {
    const std::optional<std::string> wait = arguments.value("reconnect");
    if (!wait)
        return;
    if (wait->empty()) {
        request.streaming.reconnectSeconds = request.continuous ? KVD4093_STREAM_RECONNECT_FOREVER : kDefaultReconnectSeconds;
        return;
    }
    const double seconds = parseDuration(*wait, "--reconnect");
    if (seconds <= 0)
        throw UsageError("--reconnect: give a wait above 0, or --reconnect alone");
    request.streaming.reconnectSeconds = float(seconds);
}

// "1,1": two codes of the record, 0 to 255.
void takeClockCodes(const std::string &text, Streaming &streaming) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos)
        throw UsageError("--clock-codes: \"" + text + "\" is not OUT,IN such as 1,1");
    streaming.clockOutputCode = int32_t(parseNumberIn(text.substr(0, comma), "--clock-codes OUT", 0, 255));
    streaming.clockInputCode = int32_t(parseNumberIn(text.substr(comma + 1), "--clock-codes IN", 0, 255));
}

void takeGroup(Arguments &arguments, AcquireRequest &request) {
    request.cards = takeCardChoices(arguments);
    const bool group = request.cards.size() > 1;
    if (request.cards.size() > KVD4093_STREAM_MOST_CARDS)
        throw UsageError("a group takes at most " + std::to_string(KVD4093_STREAM_MOST_CARDS) + " cards");
    const std::optional<std::string> clock = arguments.value("clock");
    const std::optional<std::string> codes = arguments.value("clock-codes");
    if (clock) {
        if (*clock != "shared" && *clock != "independent")
            throw UsageError("--clock: \"" + *clock + "\" is not shared or independent");
        request.streaming.clockMode = *clock == "shared" ? KVD4093_STREAM_CLOCK_SHARED : KVD4093_STREAM_CLOCK_INDEPENDENT;
    }
    if (codes)
        takeClockCodes(*codes, request.streaming);
    if (const std::optional<std::string> channel = arguments.value("check-sync"))
        request.checkSync = int32_t(parseNumberIn(*channel, "--check-sync", 0, 255));
    if (!group && (clock || codes || request.checkSync))
        throw UsageError("--clock, --clock-codes and --check-sync need a group: --card 0,1 or --id 7,9");
    if (request.checkSync && request.continuous)
        throw UsageError("--check-sync needs a known length: give --samples or --time, not --continuous");
}

AcquireRequest takeRequest(Arguments &arguments) {
    AcquireRequest request;
    request.record = RecordOptions::take(arguments);
    takeAmount(arguments, request);
    takeGroup(arguments, request);
    takeScanRate(arguments, request);
    takeOutput(arguments, request);
    request.plot = arguments.value("plot");
    request.publish = takePublishRequest(arguments);
    takeStreaming(arguments, request.streaming);
    takeReconnect(arguments, request);
    if (request.plot && !hasExtension(*request.plot, ".svg"))
        throw UsageError("--plot: \"" + *request.plot + "\" must end in .svg");
    if (request.plot && request.continuous)
        throw UsageError("--plot needs a known length: give --samples or --time, not --continuous");
    arguments.expectAllTaken();
    return request;
}

uint64_t plannedScans(const AcquireRequest &request, const AcquisitionInfo &info) {
    if (request.continuous)
        return 0;
    if (request.scans)
        return uint64_t(*request.scans);
    const double scans = std::round(request.seconds * info.scanRate());
    return uint64_t(std::clamp(scans, 1.0, double(kMostScans)));
}

// Every file is created before the card is touched: a bad path fails the run
// while nothing has started, and the files made so far are removed again.
std::vector<std::unique_ptr<SampleSink>> openFiles(const AcquireRequest &request) {
    std::vector<std::unique_ptr<SampleSink>> files;
    if (request.output)
        files.push_back(openFormat(*request.format, *request.output));
    if (request.plot)
        files.push_back(std::make_unique<SvgPlot>(*request.plot));
    return files;
}

// --scan-rate: the card's Frequency counts the samples of all channels.
void applyScanRate(const AcquireRequest &request, ADPara &para) {
    if (!request.scanRate)
        return;
    const int32_t channels = facts::channelCount(para.FirstChannel, para.LastChannel);
    const std::optional<int32_t> frequency = facts::frequencyForScans(double(*request.scanRate), std::max(channels, 1));
    if (!frequency)
        throw UsageError("--scan-rate " + std::to_string(*request.scanRate) + " x " + std::to_string(channels) +
                         " channels is above " + std::to_string(facts::kTimeBaseHz) + " samples a second");
    para.Frequency = *frequency;
}

void warnOfNarrowedFields(const ADPara &para) {
    for (const std::string &line : narrowedFields(para))
        std::fprintf(stderr, "kvd4093: warning: %s\n", line.c_str());
}

// "25000", or "30030.03" when the card's divider gives no whole number.
std::string rateText(double rate) {
    char text[48];
    std::snprintf(text, sizeof text, rate == std::floor(rate) ? "%.0f" : "%.2f", rate);
    return text;
}

std::string plannedText(const AcquisitionInfo &info) {
    return info.continuous ? "until stopped" : std::to_string(info.plannedScans) + " scans";
}

void printStart(std::FILE *report, const std::string &cards, const AcquisitionInfo &info) {
    std::fprintf(report, "%s: channels %d-%d, %s samples/s (%s scans/s), %s\n", cards.c_str(),
                 int(info.firstChannel()), int(info.lastChannel()), rateText(info.sampleRate).c_str(),
                 rateText(info.scanRate()).c_str(), plannedText(info).c_str());
    std::fflush(report);
}

void warnOfCutQueue(const AcquisitionInfo &info, const AcquireRequest &request, const CardStream &stream) {
    const KVD4093_STREAM_BUFFER buffer = stream.buffer();
    if (buffer.cut)
        std::fprintf(stderr, "kvd4093: warning: --buffer %g s at %s samples/s would take more than %d MiB: the "
                     "queue holds %.2f s\n", request.streaming.bufferSeconds, rateText(info.sampleRate).c_str(),
                     KVD4093_STREAM_MOST_BUFFER_BYTES >> 20, buffer.seconds);
}

// "lost 7500 scans in 2 gaps, the outputs not keeping up:" and a line a gap.
void printGaps(std::FILE *report, const AcquisitionOutcome &outcome) {
    const uint64_t gaps = outcome.gapCount - outcome.awayGaps;
    if (gaps == 0)
        return;
    std::fprintf(report, "lost %llu scans in %llu gap%s, the outputs not keeping up:\n",
                 static_cast<unsigned long long>(outcome.scansLost - outcome.scansAway),
                 static_cast<unsigned long long>(gaps), gaps == 1 ? "" : "s");
    uint64_t listed = 0;
    for (const ScanGap &gap : outcome.firstGaps) {
        if (gap.cardAway)
            continue;
        ++listed;
        std::fprintf(report, "  scans %llu to %llu (%llu)\n", static_cast<unsigned long long>(gap.firstScan),
                     static_cast<unsigned long long>(gap.firstScan + gap.scansLost - 1),
                     static_cast<unsigned long long>(gap.scansLost));
    }
    if (gaps > listed)
        std::fprintf(report, "  and %llu more gaps\n", static_cast<unsigned long long>(gaps - listed));
}

// "card ID 7 lost at scan 4500, back at scan 9700: 5200 scans not read (0.52 s)", a line a reconnection.
void printReconnections(std::FILE *report, const std::vector<KVD4093_STREAM_SEGMENT> &segments, double scanRate) {
    for (size_t i = 1; i < segments.size(); ++i) {
        const KVD4093_STREAM_SEGMENT &segment = segments[i];
        const int64_t away = segment.firstScan - segment.lostAtScan;
        std::fprintf(report, "card ID %d lost at scan %lld, back at scan %lld: %lld scans not read (%.2f s)\n",
                     int(segment.lostCardId), static_cast<long long>(segment.lostAtScan),
                     static_cast<long long>(segment.firstScan), static_cast<long long>(away), double(away) / scanRate);
    }
}

void printReport(std::FILE *report, const AcquisitionInfo &info, const AcquisitionOutcome &outcome,
                 const ChannelSummary &summary, const AcquireRequest &request,
                 const std::vector<KVD4093_STREAM_SEGMENT> &segments) {
    const auto scans = static_cast<unsigned long long>(outcome.scans);
    if (outcome.stoppedBySignal() && info.continuous)
        std::fprintf(report, "stopped by %s after %llu scans\n", signalName(outcome.stopSignal).c_str(), scans);
    else if (outcome.stoppedBySignal())
        std::fprintf(report, "stopped by %s after %llu of %llu scans\n", signalName(outcome.stopSignal).c_str(),
                     scans, static_cast<unsigned long long>(info.plannedScans));
    std::fprintf(report, "acquired %llu scans (%llu samples) in %.2f s\n", scans,
                 static_cast<unsigned long long>(outcome.scans * info.channelCount()), outcome.seconds);
    std::fprintf(report, "largest backlog %llu scans (%.2f s) behind the card's clock\n",
                 static_cast<unsigned long long>(outcome.largestBacklog), double(outcome.largestBacklog) / info.scanRate());
    printGaps(report, outcome);
    printReconnections(report, segments, info.scanRate());
    std::fprintf(report, "%s", summary.table().c_str());
    if (request.output && !request.streams()) {
        const std::string_view companion = request.format->companion;
        std::fprintf(report, "wrote %s%s\n", request.output->c_str(),
                     companion.empty() ? "" : (" and " + *request.output + std::string(companion)).c_str());
    }
    if (request.plot)
        std::fprintf(report, "wrote %s\n", request.plot->c_str());
}

// The cards of the request, opened in its order.
std::vector<std::unique_ptr<OpenCard>> openCards(const AcquireRequest &request) {
    std::vector<std::unique_ptr<OpenCard>> cards;
    for (const CardChoice &choice : request.cards)
        cards.push_back(std::make_unique<OpenCard>(choice));
    return cards;
}

std::vector<KVD4093_STREAM_CARD> streamCards(const std::vector<std::unique_ptr<OpenCard>> &cards) {
    std::vector<KVD4093_STREAM_CARD> list;
    for (const auto &card : cards)
        list.push_back({.device = card->handle(), .physicalId = card->physicalId(), .reserved = 0});
    return list;
}

// "card 0 (physical ID 7)", of a group "cards 0 (physical ID 7), 1 (physical ID 9)".
std::string groupName(const std::vector<std::unique_ptr<OpenCard>> &cards) {
    if (cards.size() == 1)
        return cards.front()->name();
    std::string name = "cards ";
    for (const auto &card : cards)
        name += (card == cards.front() ? "" : ", ") + card->name().substr(5);
    return name;
}

// Prints the wiring check's lines; true when every card is aligned.
bool reportSync(std::FILE *report, const SyncCheck &check) {
    std::fprintf(report, "%s", check.report().c_str());
    for (const int64_t lag : check.lags())
        if (lag != 0)
            return false;
    return true;
}

} // namespace

int runAcquire(Arguments &arguments) {
    const AcquireRequest request = takeRequest(arguments);
    watchStopSignals();
    std::vector<std::unique_ptr<SampleSink>> files = openFiles(request);
    const std::vector<std::unique_ptr<OpenCard>> cards = openCards(request);
    const OpenCard &card = *cards.front();

    AcquisitionInfo info;
    if (!KVD4093_LoadParaAD(card.handle(), &info.para))
        failCall("KVD4093_LoadParaAD");
    request.record.applyTo(info.para);
    applyScanRate(request, info.para);
    checkAcquisitionRecord(info.para);
    warnOfNarrowedFields(info.para);
    info.logicalNumber = card.logicalNumber();
    info.physicalId = card.physicalId();
    if (cards.size() > 1)
        for (const auto &member : cards)
            info.groupCards.push_back({member->logicalNumber(), member->physicalId()});
    uint32_t version = 0;
    info.cardVersion = KVD4093_GetDevVersion(card.handle(), &version, nullptr) ? versionText(version) : "";
    info.scale = request.scale;
    info.sampleRate = cardSampleRate(info.para);
    info.continuous = request.continuous;
    info.plannedScans = plannedScans(request, info);

    // With the samples on standard output, every word for a person goes to standard error.
    std::FILE *report = request.streams() ? stderr : stdout;
    if (request.publish)
        files.push_back(openPublisher(*request.publish, info, request.streaming.bufferSeconds, report));
    printStart(report, groupName(cards), info);
    CardStream stream(streamCards(cards), info, request.streaming);
    warnOfCutQueue(info, request, stream);
    ChannelSummary summary;
    std::vector<SampleSink *> sinks = {&summary};
    for (const auto &file : files)
        sinks.push_back(file.get());
    std::optional<SyncCheck> syncCheck;
    if (request.checkSync)
        sinks.push_back(&syncCheck.emplace(*request.checkSync));
    ProgressBar progress(info.plannedScans, isTerminal(stderr), terminalColumns(stderr));
    const AcquisitionOutcome outcome = acquire(stream, info, sinks, progress, request.streaming);
    printReport(report, info, outcome, summary, request, stream.segments());
    if (outcome.overrun)
        throw ToolError("the output could not keep up at " + rateText(info.sampleRate) + " samples/s: stopped after " +
                        std::to_string(outcome.scans) + " scans");
    if (outcome.stoppedBySignal())
        return kExitSignalBase + outcome.stopSignal;
    return syncCheck && !reportSync(report, *syncCheck) ? kExitFailed : kExitOk;
}

} // namespace kvd::tool
