#include "card/ad_fields.h"

#include <algorithm>
#include <cstdio>

#include "common/errors.h"
#include "facts/card_limits.h"
#include "facts/channel_count.h"
#include "facts/scan_rate.h"

namespace kvd::tool {
namespace {

constexpr int64_t kMaxRate = facts::kTimeBaseHz;

} // namespace

OptionTable recordOptions(std::string heading) {
    OptionGroup shorthands{std::move(heading),
                           {{.name = "channels",
                             .value = "FIRST-LAST",
                             .help = "channels scanned, in order (FirstChannel, LastChannel), e.g. 0-3"},
                            {.name = "rate",
                             .letter = 'r',
                             .value = "N",
                             .help = "samples a second of all channels together (Frequency),\n"
                                     "1 to 10M, e.g. 25k; the card divides its 10 MHz clock by\n"
                                     "trunc(10M / N), so it runs at 10M / that divider (3M -> 3.33M)"}}};
    // The fields are named in a list under one line, with both their names.
    OptionGroup fields{"  --FIELD N              any ADPara field by its name (--InputRange 2) or in lower\n"
                       "                         case with dashes (--input-range 2):",
                       {}};
    for (const AdField &field : adFields()) {
        fields.options.push_back({.name = field.name, .value = "N"});
        fields.options.push_back({.name = field.dashed, .value = "N"});
    }
    return {shorthands, fields};
}

namespace {

// The field's value from either spelling; giving both is an error.
std::optional<std::string> fieldOption(Arguments &arguments, const AdField &field) {
    std::optional<std::string> byName = arguments.value(field.name);
    std::optional<std::string> dashed = arguments.value(field.dashed);
    if (byName && dashed)
        throw UsageError(std::string("give --") + field.name + " or --" + field.dashed + ", not both");
    return byName ? byName : dashed;
}

int32_t fieldValue(const std::string &text, const char *name) {
    return static_cast<int32_t>(parseNumberIn(text, std::string("--") + name, INT32_MIN, INT32_MAX));
}

} // namespace

RecordOptions RecordOptions::take(Arguments &arguments) {
    RecordOptions options;
    const std::optional<std::string> channels = arguments.value("channels");
    const std::optional<std::string> rate = arguments.value("rate");
    for (const AdField &field : adFields()) {
        const std::optional<std::string> text = fieldOption(arguments, field);
        if (!text)
            continue;
        const bool isChannel = field.member == &ADPara::FirstChannel || field.member == &ADPara::LastChannel;
        if ((channels && isChannel) || (rate && field.member == &ADPara::Frequency))
            throw UsageError(std::string("--") + field.name + " and " + (isChannel ? "--channels" : "--rate") +
                             " set the same field: give one");
        options.values_.emplace_back(field.member, fieldValue(*text, field.name));
    }
    if (channels) {
        const ChannelRange range = parseChannelRange(*channels);
        options.values_.emplace_back(&ADPara::FirstChannel, range.first);
        options.values_.emplace_back(&ADPara::LastChannel, range.last);
    }
    if (rate)
        options.values_.emplace_back(&ADPara::Frequency,
                                     static_cast<int32_t>(parseNumberIn(*rate, "--rate", 1, kMaxRate)));
    return options;
}

void RecordOptions::applyTo(ADPara &para) const {
    for (const auto &[member, value] : values_)
        para.*member = value;
}

bool RecordOptions::sets(int32_t ADPara::*member) const {
    return std::any_of(values_.begin(), values_.end(), [&](const auto &value) { return value.first == member; });
}

void checkAcquisitionRecord(const ADPara &para) {
    const auto fail = [](const std::string &why) { throw UsageError(why); };
    // The card takes the low 8 bits of each channel number.
    if (facts::channelCount(para.FirstChannel, para.LastChannel) < 1)
        fail("channels " + std::to_string(para.FirstChannel) + "-" + std::to_string(para.LastChannel) +
             " reach the card as " + std::to_string(facts::cardChannel(para.FirstChannel)) + "-" +
             std::to_string(facts::cardChannel(para.LastChannel)) + ": the last before the first");
    if (para.Frequency < 1 || para.Frequency > kMaxRate)
        fail("Frequency " + std::to_string(para.Frequency) + " is not between 1 and " + std::to_string(kMaxRate));
}

double cardSampleRate(const ADPara &para) { return facts::cardSampleRate(para.Frequency); }

std::string describeRecord(const ADPara &para) {
    std::string text;
    for (const AdField &field : adFields()) {
        char line[64];
        std::snprintf(line, sizeof line, "%-14s = %d\n", field.name, int(para.*field.member));
        text += line;
    }
    return text;
}

} // namespace kvd::tool
