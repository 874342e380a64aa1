#include "panel/panel_commands.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "KVD4093_ad_fields.h"
#include "facts/card_limits.h"

namespace kvd::tool::panel {
namespace {

using nlohmann::json;

constexpr size_t kMostFileNameBytes = 255;

struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int64_t wholeNumber(const std::string &name, const json &value, int64_t low, int64_t high) {
    if (!value.is_number_integer())
        throw Refused("\"" + name + "\" must be a whole number");
    const int64_t number =
        value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(INT64_MAX) ? INT64_MAX : value.get<int64_t>();
    if (number < low || number > high)
        throw Refused("\"" + name + "\" must be " + std::to_string(low) + " to " + std::to_string(high));
    return number;
}

// The members of one message: each taken at most once, and none left over.
class Members {
public:
    explicit Members(const json &message) : message_(message) {}

    int64_t integer(const std::string &name, int64_t low, int64_t high) {
        return wholeNumber(name, take(name), low, high);
    }

    double number(const std::string &name, double low, double high) {
        const json &value = take(name);
        if (!value.is_number() || !std::isfinite(value.get<double>()))
            throw Refused("\"" + name + "\" must be a number");
        const double number = value.get<double>();
        if (number < low || number > high)
            throw Refused("\"" + name + "\" is out of range");
        return number;
    }

    std::string text(const std::string &name, size_t longest) {
        const json &value = take(name);
        if (!value.is_string() || value.get_ref<const std::string &>().size() > longest)
            throw Refused("\"" + name + "\" must be a text of at most " + std::to_string(longest) + " bytes");
        return value.get<std::string>();
    }

    const json &object(const std::string &name) {
        const json &value = take(name);
        if (!value.is_object())
            throw Refused("\"" + name + "\" must be an object");
        return value;
    }

    bool has(const std::string &name) const { return message_.contains(name); }

    void expectAllTaken() const {
        for (const auto &[name, value] : message_.items())
            if (std::find(taken_.begin(), taken_.end(), name) == taken_.end())
                throw Refused("unknown member \"" + name + "\"");
    }

private:
    const json &take(const std::string &name) {
        const auto found = message_.find(name);
        if (found == message_.end())
            throw Refused("\"" + name + "\" is missing");
        taken_.push_back(name);
        return *found;
    }

    const json &message_;
    std::vector<std::string> taken_{"type"};
};

command::SetRecord parseRecord(const json &record) {
    command::SetRecord parsed;
    for (const auto &[name, value] : record.items()) {
        const auto field = std::find_if(std::begin(fields::kAdFields), std::end(fields::kAdFields),
                                        [&](const fields::AdField &f) { return name == f.name; });
        if (field == std::end(fields::kAdFields))
            throw Refused("\"" + name + "\" is not a field of the AD record");
        parsed.fields.emplace_back(field->member, int32_t(wholeNumber(name, value, INT32_MIN, INT32_MAX)));
    }
    return parsed;
}

command::Settings::Action settingsAction(const std::string &action) {
    if (action == "load")
        return command::Settings::Action::Load;
    if (action == "save")
        return command::Settings::Action::Save;
    if (action == "reset")
        return command::Settings::Action::Reset;
    throw Refused("\"action\" must be load, save or reset");
}

Command parseMembers(const std::string &type, Members &members) {
    if (type == "list-cards")
        return command::ListCards{};
    if (type == "select-card")
        return command::SelectCard{int32_t(members.integer("card", 0, 31))};
    if (type == "set-record")
        return parseRecord(members.object("record"));
    if (type == "set-rate") {
        const int64_t rate = members.integer("rate", 1, facts::kTimeBaseHz);
        const std::string unit = members.text("unit", 16);
        if (unit != "samples" && unit != "scans")
            throw Refused("\"unit\" must be samples or scans");
        return command::SetRate{rate, unit == "scans"};
    }
    if (type == "start")
        return command::Start{};
    if (type == "stop")
        return command::Stop{};
    if (type == "settings")
        return command::Settings{settingsAction(members.text("action", 16))};
    if (type == "set-do")
        return command::SetDigitalOutputs{uint16_t(members.integer("word", 0, facts::kDigitalWordMax))};
    if (type == "write-da") {
        const auto channel = int32_t(members.integer("channel", 0, 7));
        const auto value = int32_t(members.integer("value", 0, facts::kDaCodeMax));
        const auto setup = members.has("setup") ? int32_t(members.integer("setup", 0, 7)) : 0;
        return command::WriteDa{channel, value, setup};
    }
    if (type == "set-trigger")
        return command::SetTriggerLevel{int32_t(members.integer("level", 0, 10000))};
    if (type == "record") {
        command::Record record{members.text("file", kMostFileNameBytes), std::nullopt};
        if (members.has("seconds"))
            record.seconds = members.number("seconds", 0.001, 1e7);
        return record;
    }
    if (type == "stop-recording")
        return command::StopRecording{};
    if (type == "set-view")
        return command::SetView{members.number("seconds", 0.001, 3600)};
    throw Refused("unknown message type \"" + type + "\"");
}

} // namespace

ParsedCommand parseCommand(std::string_view text) {
    if (text.size() > kMaxMessageBytes)
        return {std::nullopt, "the message is longer than " + std::to_string(kMaxMessageBytes) + " bytes"};
    const json message = json::parse(text.begin(), text.end(), nullptr, false);
    if (message.is_discarded())
        return {std::nullopt, "the message is not JSON"};
    if (!message.is_object() || !message.contains("type") || !message["type"].is_string())
        return {std::nullopt, "the message is not an object with a \"type\""};
    try {
        Members members(message);
        Command command = parseMembers(message["type"].get<std::string>(), members);
        members.expectAllTaken();
        return {std::move(command), {}};
    } catch (const Refused &refused) {
        return {std::nullopt, refused.what()};
    }
}

} // namespace kvd::tool::panel
