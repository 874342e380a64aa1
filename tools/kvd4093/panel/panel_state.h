// What every tab shows, kept by the panel's card thread and sent whole as a
// "state" message whenever it changes, so all tabs agree. docs/panel.md
// describes the messages these make.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "KVD4093.h"
#include "card/card_probe.h"
#include "card/digital_io.h"
#include "panel/acquisition_run.h"
#include "output/sample_sink.h"
#include "panel/log_watch.h"
#include "panel/recording.h"

namespace kvd::tool::panel {

struct PanelState {
    std::string backend; // "virtual", "USB", "Windows driver"
    std::vector<CardProbe> cards;
    std::optional<CardProbe> card; // the card the panel holds open
    std::vector<GroupCard> group;  // with `card` first, the group it acquires with; empty for one card
    ADPara record{};
    bool running = false;
    uint32_t run = 0; // the chart frames' run number
    double sampleRate = 0; // as the card runs, of the running acquisition or the record
    uint32_t scansPerColumn = 0;
    RunFigures stream; // of the running acquisition, or the last one
    double viewSeconds = 1;
    RecordingStatus recording;
    uint16_t digitalOutputs = 0;
    std::optional<uint16_t> digitalInputs; // nullopt: could not be read
    std::array<std::optional<int32_t>, kDaChannels> daWritten{};
    std::optional<DaValues> daReported;
    std::optional<int32_t> triggerLevel; // nullopt: not set by the panel
    bool traceOn = false;
};

std::string stateMessage(const PanelState &state);
// The first message a tab receives: the record's fields, the formats, the
// log and the trace so far.
std::string helloMessage(const std::deque<LogEntry> &log, const std::deque<std::string> &trace, bool traceOn);
std::string logMessage(const std::vector<LogEntry> &entries);
std::string traceMessage(const std::vector<std::string> &lines);
std::string errorMessage(const std::string &text);

} // namespace kvd::tool::panel
