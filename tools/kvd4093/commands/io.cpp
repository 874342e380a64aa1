// di, do, da, trig: the card's digital lines, DA outputs and trigger level.
#include <algorithm>
#include <array>
#include <optional>
#include <cstdio>

#include "KVD4093.h"
#include "card/card.h"
#include "card/digital_io.h"
#include "commands/commands.h"
#include "common/errors.h"
#include "facts/card_limits.h"

namespace kvd::tool {

const OptionTable &diOptions() {
    static const OptionTable table = {cardOptions()};
    return table;
}

const OptionTable &doOptions() { return diOptions(); }

const OptionTable &daOptions() {
    static const OptionTable table = {
        {"",
         {{.name = "channel", .value = "N", .help = "the DA channel, 0 to 7"},
          {.name = "value", .value = "V", .help = "the 12-bit value, 0 to 4095"},
          {.name = "setup", .value = "S", .help = "the converter's setup code, 0 to 7 (default 0)"}}},
        cardOptions()};
    return table;
}

const OptionTable &trigOptions() { return diOptions(); }

std::string diHelp() {
    return std::string("Usage: kvd4093 di [--card N | --id P] [--virtual[=IDS]]\n"
                       "\n"
                       "Reads the 16 digital inputs and prints each line (0 or 1) and the\n"
                       "16-bit value (bit n = line n).\n"
                       "\n") +
           optionHelp(diOptions());
}

std::string doHelp() {
    return std::string("Usage: kvd4093 do LINES [--card N | --id P] [--virtual[=IDS]]\n"
                       "\n"
                       "Sets the 16 digital outputs, then reads the digital inputs back. LINES is\n"
                       "a 16-bit value, bit n for line n (0x00ff: lines 0 to 7 on), or up to 16\n"
                       "comma-separated 0s and 1s for lines 0, 1, ... (missing lines are 0).\n"
                       "On a virtual card the outputs loop back to the inputs. A virtual card\n"
                       "lives as long as the process: a later `kvd4093 di` sees a fresh card.\n"
                       "\n") +
           optionHelp(doOptions());
}

std::string daHelp() {
    return std::string("Usage: kvd4093 da --channel N --value V [--setup S] [card options]\n"
                       "\n"
                       "Writes the 12-bit value V (0 to 4095) to DA channel N (0 to 7) with the\n"
                       "converter's setup code S (0 to 7, default 0), then shows the DA values the\n"
                       "card reports in its status packet (bytes 21 to 36, two per channel, least\n"
                       "significant first; 0xffff: never written). A card reports them when the\n"
                       "bytes are not all 0 and the written channel shows the value just written;\n"
                       "otherwise (a card that does not report them) they are \"not reported\".\n"
                       "\n") +
           optionHelp(daOptions());
}

std::string trigHelp() {
    return std::string("Usage: kvd4093 trig LEVEL [card options]\n"
                       "\n"
                       "Sets the trigger level, 0 to 10000: 10000 units span the 256 steps of the\n"
                       "level byte the card receives (trunc(LEVEL x 0.0256), at most 255).\n"
                       "\n") +
           optionHelp(trigOptions());
}

namespace {

std::string lineRow(const char *label, uint16_t lines) {
    char cell[8];
    std::string row = label;
    row.resize(6, ' ');
    for (int n = 0; n < kDigitalLines; ++n) {
        std::snprintf(cell, sizeof cell, "%3d", (lines >> n) & 1);
        row += cell;
    }
    return row + "\n";
}

std::string lineHeader() {
    char cell[8];
    std::string row = "line  ";
    for (int n = 0; n < kDigitalLines; ++n) {
        std::snprintf(cell, sizeof cell, "%3d", n);
        row += cell;
    }
    return row + "\n";
}

// "0x00ff" (or any whole number 0 to 65535), or "1,0,1,...".
uint16_t parseLines(const std::string &text) {
    if (text.find(',') == std::string::npos)
        return static_cast<uint16_t>(parseNumberIn(text, "do LINES", 0, facts::kDigitalWordMax));
    uint16_t lines = 0;
    int line = 0;
    for (size_t start = 0;; ++line) {
        const size_t comma = text.find(',', start);
        const std::string state = text.substr(start, comma - start);
        if (line >= kDigitalLines)
            throw UsageError("do LINES: more than 16 lines in \"" + text + "\"");
        if (state != "0" && state != "1")
            throw UsageError("do LINES: \"" + state + "\" for line " + std::to_string(line) + " is not 0 or 1");
        lines = static_cast<uint16_t>(lines | (state == "1") << line);
        if (comma == std::string::npos)
            return lines;
        start = comma + 1;
    }
}

std::string hex16(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", unsigned(value));
    return text;
}

} // namespace

int runDi(Arguments &arguments) {
    const CardChoice choice = takeCardChoice(arguments);
    arguments.expectAllTaken();
    OpenCard card(choice);
    const uint16_t inputs = readDigitalInputs(card.handle());
    std::printf("%s%sDI = %s\n", lineHeader().c_str(), lineRow("DI", inputs).c_str(), hex16(inputs).c_str());
    return kExitOk;
}

int runDo(Arguments &arguments) {
    const CardChoice choice = takeCardChoice(arguments);
    const std::optional<std::string> text = arguments.positional();
    if (!text)
        throw UsageError("do needs LINES, e.g. 0x00ff or 1,0,1");
    arguments.expectAllTaken();
    const uint16_t outputs = parseLines(*text);
    OpenCard card(choice);
    setDigitalOutputs(card.handle(), outputs);
    const uint16_t inputs = readDigitalInputs(card.handle());
    std::printf("%s%s%sDO = %s, DI = %s\n", lineHeader().c_str(), lineRow("DO", outputs).c_str(),
                lineRow("DI", inputs).c_str(), hex16(outputs).c_str(), hex16(inputs).c_str());
    return kExitOk;
}

namespace {

// The DA values of the status packet, or nothing when the card does not
// report them or the written channel does not show the value just written.
std::optional<DaValues> reportedDaValues(KVD4093_HANDLE card, int32_t channel, int32_t value) {
    const std::optional<DaValues> values = readReportedDaValues(card);
    if (!values || (*values)[size_t(channel)] != value)
        return std::nullopt;
    return values;
}

} // namespace

int runDa(Arguments &arguments) {
    const CardChoice choice = takeCardChoice(arguments);
    const std::optional<std::string> channelText = arguments.value("channel");
    const std::optional<std::string> valueText = arguments.value("value");
    const std::optional<std::string> setupText = arguments.value("setup");
    if (!channelText || !valueText)
        throw UsageError("da needs --channel N and --value V");
    const auto channel = static_cast<int32_t>(parseNumberIn(*channelText, "--channel", 0, kDaChannels - 1));
    const auto value = static_cast<int32_t>(parseNumberIn(*valueText, "--value", 0, facts::kDaCodeMax));
    const auto setup = static_cast<int32_t>(setupText ? parseNumberIn(*setupText, "--setup", 0, 7) : 0);
    arguments.expectAllTaken();

    OpenCard card(choice);
    if (!KVD4093_WriteDeviceDA(card.handle(), setup, value, channel))
        failCall("KVD4093_WriteDeviceDA");
    std::printf("wrote %d (0x%03x) to DA channel %d with setup code %d\n", int(value), unsigned(value), int(channel),
                int(setup));
    const auto values = reportedDaValues(card.handle(), channel, value);
    if (!values) {
        std::printf("DA values: not reported by this card\n");
        return kExitOk;
    }
    std::printf("DA values the card reports:\n");
    for (int c = 0; c < kDaChannels; ++c) {
        const uint16_t shown = (*values)[size_t(c)];
        if (shown == kDaNeverWritten)
            std::printf("  channel %d: never written\n", c);
        else
            std::printf("  channel %d: %u (0x%03x)\n", c, unsigned(shown), unsigned(shown));
    }
    return kExitOk;
}

int runTrig(Arguments &arguments) {
    const CardChoice choice = takeCardChoice(arguments);
    const std::optional<std::string> text = arguments.positional();
    if (!text)
        throw UsageError("trig needs LEVEL, 0 to 10000");
    const auto level = static_cast<int32_t>(parseNumberIn(*text, "trig LEVEL", 0, 10000));
    arguments.expectAllTaken();
    OpenCard card(choice);
    if (!KVD4093_SetDeviceTrigLevel(card.handle(), level))
        failCall("KVD4093_SetDeviceTrigLevel");
    const int levelByte = std::min(255, static_cast<int>(level * 0.0256));
    std::printf("trigger level %d set (level byte %d of 255)\n", int(level), levelByte);
    return kExitOk;
}

} // namespace kvd::tool
