// acquire: one AD acquisition, to files, a plot and a summary.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "acquisition.h"
#include "ad_fields.h"
#include "bin_writer.h"
#include "card.h"
#include "channel_summary.h"
#include "commands.h"
#include "csv_writer.h"
#include "errors.h"
#include "svg_plot.h"
#include "system.h"

namespace kvd::tool {

std::string acquireHelp() {
    return std::string("Usage: kvd4093 acquire [options]\n"
                       "\n"
                       "Runs one AD acquisition: starts the card with the card's saved settings\n"
                       "(KVD4093_LoadParaAD) changed by the options below, reads whole scans (one\n"
                       "sample of each channel, in order) in blocks of about 50 ms, stops, and prints\n"
                       "the lowest, highest and mean code of each channel. Ctrl-C stops early and\n"
                       "keeps what was acquired (the files stay valid; exit status 130).\n"
                       "\n"
                       "How much (default: --time 1s):\n"
                       "  --samples N            samples per channel, that is scans, e.g. 100k\n"
                       "  --time T               how long, e.g. 2s or 500ms; scans = T x rate / channels\n"
                       "Where to (both optional):\n"
                       "  --output FILE.csv      CSV: a header \"scan,time_s,ch0,...\", then one scan a line\n"
                       "  --output FILE.bin      raw 16-bit little-endian samples, scan after scan, and a\n"
                       "                         JSON sidecar FILE.bin.json (rate, channels, card, start\n"
                       "                         time in UTC, sample count, the ADPara record)\n"
                       "  --plot FILE.svg        the channels over time, a picture for a browser\n"
                       "The record (only what is given changes the saved settings):\n") +
           kRecordOptionsHelp + "The card:\n" + kCardOptionsHelp +
           "\n"
           "Samples are codes 0 to 65535, offset binary (32768 is zero). Numbers take k\n"
           "(x1000) and M (x1000000): --rate 25k, --samples 1M.\n"
           "Example: kvd4093 acquire --virtual --channels 0-3 --rate 100k --time 2s \\\n"
           "             --output run.csv --plot run.svg\n";
}

namespace {

constexpr double kDefaultSeconds = 1.0;
constexpr int64_t kMostScans = int64_t(1) << 40;

struct AcquireRequest {
    CardChoice card;
    RecordOptions record;
    std::optional<int64_t> scans;
    double seconds = kDefaultSeconds;
    std::optional<std::string> output;
    std::optional<std::string> plot;
};

AcquireRequest takeRequest(Arguments &arguments) {
    AcquireRequest request;
    request.card = takeCardChoice(arguments);
    request.record = RecordOptions::take(arguments);
    const std::optional<std::string> samples = arguments.value("samples");
    const std::optional<std::string> time = arguments.value("time");
    if (samples && time)
        throw UsageError("give --samples or --time, not both");
    if (samples)
        request.scans = parseNumberIn(*samples, "--samples", 1, kMostScans);
    if (time)
        request.seconds = parseDuration(*time, "--time");
    request.output = arguments.value("output");
    if (request.output && !hasExtension(*request.output, ".csv") && !hasExtension(*request.output, ".bin"))
        throw UsageError("--output: \"" + *request.output + "\" must end in .csv or .bin");
    request.plot = arguments.value("plot");
    if (request.plot && !hasExtension(*request.plot, ".svg"))
        throw UsageError("--plot: \"" + *request.plot + "\" must end in .svg");
    arguments.expectAllTaken();
    return request;
}

uint64_t plannedScans(const AcquireRequest &request, const AcquisitionInfo &info) {
    if (request.scans)
        return uint64_t(*request.scans);
    const double scans = std::round(request.seconds * info.scanRate());
    return uint64_t(std::clamp(scans, 1.0, double(kMostScans)));
}

std::vector<std::unique_ptr<SampleSink>> openFiles(const AcquireRequest &request) {
    std::vector<std::unique_ptr<SampleSink>> files;
    if (request.output && hasExtension(*request.output, ".csv"))
        files.push_back(std::make_unique<CsvWriter>(*request.output));
    else if (request.output)
        files.push_back(std::make_unique<BinWriter>(*request.output));
    if (request.plot)
        files.push_back(std::make_unique<SvgPlot>(*request.plot));
    return files;
}

// "25000", or "30030.03" when the card's divider gives no whole number.
std::string rateText(double rate) {
    char text[48];
    std::snprintf(text, sizeof text, rate == std::floor(rate) ? "%.0f" : "%.2f", rate);
    return text;
}

void printReport(const OpenCard &card, const AcquisitionInfo &info, const AcquisitionOutcome &outcome,
                 const ChannelSummary &summary, const AcquireRequest &request) {
    std::printf("%s: channels %d-%d, %s samples/s (%s scans/s)\n", card.name().c_str(), int(info.para.FirstChannel),
                int(info.para.LastChannel), rateText(info.sampleRate).c_str(), rateText(info.scanRate()).c_str());
    if (outcome.interrupted)
        std::printf("stopped by Ctrl-C after %llu of %llu scans\n", static_cast<unsigned long long>(outcome.scans),
                    static_cast<unsigned long long>(info.plannedScans));
    std::printf("acquired %llu scans (%llu samples) in %.2f s\n", static_cast<unsigned long long>(outcome.scans),
                static_cast<unsigned long long>(outcome.scans * info.channelCount()), outcome.seconds);
    std::printf("%s", summary.table().c_str());
    if (request.output)
        std::printf("wrote %s%s\n", request.output->c_str(),
                    hasExtension(*request.output, ".bin") ? (" and " + BinWriter::sidecarPath(*request.output)).c_str()
                                                          : "");
    if (request.plot)
        std::printf("wrote %s\n", request.plot->c_str());
}

} // namespace

int runAcquire(Arguments &arguments) {
    const AcquireRequest request = takeRequest(arguments);
    watchInterrupt();
    OpenCard card(request.card);

    AcquisitionInfo info;
    if (!KVD4093_LoadParaAD(card.handle(), &info.para))
        failCall("KVD4093_LoadParaAD");
    request.record.applyTo(info.para);
    checkAcquisitionRecord(info.para);
    info.logicalNumber = card.logicalNumber();
    info.physicalId = card.physicalId();
    info.sampleRate = cardSampleRate(info.para);
    info.plannedScans = plannedScans(request, info);

    std::vector<std::unique_ptr<SampleSink>> files = openFiles(request);
    ChannelSummary summary;
    std::vector<SampleSink *> sinks = {&summary};
    for (const auto &file : files)
        sinks.push_back(file.get());
    ProgressBar progress(info.plannedScans, isTerminal(stderr));
    info.startTime = utcTimestamp();
    const AcquisitionOutcome outcome = acquire(card.handle(), info, sinks, progress);
    printReport(card, info, outcome, summary, request);
    return outcome.interrupted ? kExitInterrupted : kExitOk;
}

} // namespace kvd::tool
