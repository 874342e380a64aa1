// What a page (or any program on the panel's WebSocket) may ask, parsed and
// checked from one JSON text message. docs/panel.md lists the messages.
// Anything else is refused with a reason: a text that is not JSON, not an
// object, an unknown type, a missing or unknown member, a member of the
// wrong kind or out of range.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "KVD4093.h"

namespace kvd::tool::panel {

// The longest text message taken; a longer one closes the connection.
constexpr size_t kMaxMessageBytes = 4096;

namespace command {
struct ListCards {};
struct SelectCard {
    int32_t number;
};
struct SetRecord {
    std::vector<std::pair<int32_t ADPara::*, int32_t>> fields;
};
struct SetRate {
    int64_t rate;
    bool perScan; // scans a second of each channel, rather than samples of all together
};
struct Start {};
struct Stop {};
struct Settings {
    enum class Action { Load, Save, Reset } action;
};
struct SetDigitalOutputs {
    uint16_t word;
};
struct WriteDa {
    int32_t channel;
    int32_t value;
    int32_t setup;
};
struct SetTriggerLevel {
    int32_t level;
};
struct Record {
    std::string file;
    std::optional<double> seconds; // until stopped when absent
};
struct StopRecording {};
struct SetView {
    double seconds;
};
} // namespace command

using Command = std::variant<command::ListCards, command::SelectCard, command::SetRecord, command::SetRate,
                             command::Start, command::Stop, command::Settings, command::SetDigitalOutputs,
                             command::WriteDa, command::SetTriggerLevel, command::Record, command::StopRecording,
                             command::SetView>;

struct ParsedCommand {
    std::optional<Command> command;
    std::string refusal; // why there is none
};

ParsedCommand parseCommand(std::string_view text);

} // namespace kvd::tool::panel
