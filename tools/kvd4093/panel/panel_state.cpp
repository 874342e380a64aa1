#include "panel/panel_state.h"

#include <nlohmann/json.hpp>

#include "KVD4093_ad_fields.h"
#include "facts/channel_count.h"

namespace kvd::tool::panel {
namespace {

using nlohmann::json;

constexpr int kProtocolVersion = 1;

// Texts from the library or a file name may hold anything: invalid UTF-8 is
// replaced, never sent.
std::string text(const json &message) { return message.dump(-1, ' ', false, json::error_handler_t::replace); }

template <typename T> json optional(const std::optional<T> &value) { return value ? json(*value) : json(nullptr); }

json cardJson(const CardProbe &card) {
    return {{"number", card.number},
            {"answers", card.answers},
            {"physicalId", optional(card.physicalId)},
            {"version", card.version ? json(versionText(*card.version)) : json(nullptr)}};
}

json recordJson(const ADPara &record) {
    json fields = json::object();
    for (const fields::AdField &field : fields::kAdFields)
        fields[field.name] = record.*field.member;
    return fields;
}

const char *stateName(RecordingStatus::State state) {
    switch (state) {
    case RecordingStatus::State::Idle: return "idle";
    case RecordingStatus::State::Recording: return "recording";
    case RecordingStatus::State::Done: return "done";
    case RecordingStatus::State::Empty: return "empty";
    case RecordingStatus::State::Failed: return "failed";
    }
    return "idle";
}

json logJson(const LogEntry &entry) {
    return {{"time", entry.time}, {"function", entry.function}, {"message", entry.message}, {"english", entry.english}};
}

// The chart's channels as the recordings name them: "ch0", of a group "ID7:ch0".
json channelNames(const PanelState &state) {
    AcquisitionInfo info;
    info.para = state.record;
    info.groupCards = state.group;
    json names = json::array();
    if (info.lastChannel() >= info.firstChannel())
        for (uint32_t i = 0; i < info.channelCount(); ++i)
            names.push_back(info.columnName(i));
    return names;
}

} // namespace

std::string stateMessage(const PanelState &state) {
    json cards = json::array();
    for (const CardProbe &card : state.cards)
        cards.push_back(cardJson(card));
    json daWritten = json::array(), daReported = nullptr;
    for (const auto &value : state.daWritten)
        daWritten.push_back(optional(value));
    if (state.daReported)
        daReported = *state.daReported;
    const uint32_t channels = uint32_t(facts::channelCount(state.record.FirstChannel, state.record.LastChannel));
    return text({{"type", "state"},
                 {"backend", state.backend},
                 {"cards", cards},
                 {"card", state.card ? cardJson(*state.card) : json(nullptr)},
                 {"record", recordJson(state.record)},
                 {"channels", channelNames(state)},
                 {"running", state.running},
                 {"run", state.run},
                 {"sampleRate", state.sampleRate},
                 {"scanRate", channels > 0 && channels <= 256 ? state.sampleRate / channels : 0.0},
                 {"scansPerColumn", state.scansPerColumn},
                 {"stream",
                  {{"backlog", state.stream.backlog},
                   {"largestBacklog", state.stream.largestBacklog},
                   {"scansLost", state.stream.scansLost},
                   {"gaps", state.stream.gaps},
                   {"cardLost", state.stream.cardLost}}},
                 {"viewSeconds", state.viewSeconds},
                 {"recording",
                  {{"state", stateName(state.recording.state)},
                   {"file", state.recording.file},
                   {"scans", state.recording.scans},
                   {"scansLost", state.recording.scansLost},
                   {"gaps", state.recording.gaps},
                   {"planned", state.recording.planned},
                   {"message", state.recording.message}}},
                 {"digitalOutputs", state.digitalOutputs},
                 {"digitalInputs", optional(state.digitalInputs)},
                 {"daWritten", daWritten},
                 {"daReported", daReported},
                 {"triggerLevel", optional(state.triggerLevel)},
                 {"traceOn", state.traceOn}});
}

std::string helloMessage(const std::deque<LogEntry> &log, const std::deque<std::string> &trace, bool traceOn) {
    json fields = json::array();
    for (const fields::AdField &field : fields::kAdFields)
        fields.push_back({{"name", field.name}, {"default", field.defaultValue}, {"bits", field.bits}});
    json formats = json::array();
    for (const std::string &format : recordingFormats())
        formats.push_back(format);
    json entries = json::array();
    for (const LogEntry &entry : log)
        entries.push_back(logJson(entry));
    return text({{"type", "hello"},
                 {"protocol", kProtocolVersion},
                 {"fields", fields},
                 {"formats", formats},
                 {"daChannels", kDaChannels},
                 {"log", entries},
                 {"traceOn", traceOn},
                 {"trace", json(std::vector<std::string>(trace.begin(), trace.end()))}});
}

std::string logMessage(const std::vector<LogEntry> &entries) {
    json list = json::array();
    for (const LogEntry &entry : entries)
        list.push_back(logJson(entry));
    return text({{"type", "log"}, {"entries", list}});
}

std::string traceMessage(const std::vector<std::string> &lines) {
    return text({{"type", "trace"}, {"lines", lines}});
}

std::string errorMessage(const std::string &message) { return text({{"type", "error"}, {"message", message}}); }

} // namespace kvd::tool::panel
