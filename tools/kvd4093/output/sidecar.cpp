#include "output/sidecar.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "card/ad_fields.h"
#include "common/errors.h"
#include "output/json_reader.h"
#include "output/staged_path.h"

namespace kvd::tool {
namespace {

std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string scaleText(const Scale &scale) {
    if (!scale.given)
        return "null";
    return "{\"gain\": " + scale.gainText + ", \"offset\": " + scale.offsetText + ", \"unit\": \"" + scale.unit +
           "\"}";
}

std::string gapsText(const std::vector<ScanGap> &gaps) {
    std::string text;
    for (const ScanGap &gap : gaps)
        text += std::string(text.empty() ? "" : ", ") + "{\"first_scan\": " + std::to_string(gap.firstScan) +
                ", \"scans_lost\": " + std::to_string(gap.scansLost) + "}";
    return "[" + text + "]";
}

// Reading: every member the tool needs, with a message naming it.
class SidecarReader {
public:
    SidecarReader(std::string path, JsonValue document) : path_(std::move(path)), document_(std::move(document)) {}

    [[noreturn]] void fail(const std::string &what) const { throw ToolError(path_ + ": " + what); }

    const JsonValue &member(const JsonValue &object, const char *name, JsonValue::Kind kind) const {
        const JsonValue *value = object.member(name);
        if (value == nullptr || value->kind != kind)
            fail(std::string("\"") + name + "\" is missing or not " + kindName(kind));
        return *value;
    }
    const JsonValue &member(const char *name, JsonValue::Kind kind) const { return member(document_, name, kind); }

    double positive(const char *name) const {
        const double value = std::strtod(member(name, JsonValue::Kind::Number).text.c_str(), nullptr);
        if (!(value > 0))
            fail(std::string("\"") + name + "\" is not above zero");
        return value;
    }

    uint64_t count(const JsonValue &object, const char *name) const {
        const std::string &text = member(object, name, JsonValue::Kind::Number).text;
        char *end = nullptr;
        const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
        if (*end != '\0' || text[0] == '-')
            fail(std::string("\"") + name + "\" is not a whole number");
        return value;
    }

    int32_t integer(const JsonValue &object, const char *name) const {
        const std::string &text = member(object, name, JsonValue::Kind::Number).text;
        char *end = nullptr;
        const long long value = std::strtoll(text.c_str(), &end, 10);
        if (*end != '\0' || value < INT32_MIN || value > INT32_MAX)
            fail(std::string("\"") + name + "\" is not a 32-bit whole number");
        return int32_t(value);
    }

    const JsonValue &document() const { return document_; }

private:
    static const char *kindName(JsonValue::Kind kind) {
        switch (kind) {
        case JsonValue::Kind::Number: return "a number";
        case JsonValue::Kind::String: return "text";
        case JsonValue::Kind::Array: return "a list";
        case JsonValue::Kind::Object: return "an object";
        default: return "a value";
        }
    }

    std::string path_;
    JsonValue document_;
};

JsonValue parseFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        failOnFile("read", path);
    std::ostringstream text;
    text << file.rdbuf();
    try {
        return parseJson(text.str());
    } catch (const std::runtime_error &error) {
        throw ToolError(path + ": not JSON: " + error.what());
    }
}

Scale readScale(const SidecarReader &reader) {
    const JsonValue *scale = reader.document().member("scale");
    if (scale == nullptr || scale->kind == JsonValue::Kind::Null)
        return {};
    const JsonValue &object = reader.member("scale", JsonValue::Kind::Object);
    try {
        return scaleFromText(reader.member(object, "gain", JsonValue::Kind::Number).text,
                             reader.member(object, "offset", JsonValue::Kind::Number).text,
                             reader.member(object, "unit", JsonValue::Kind::String).text);
    } catch (const ToolError &error) {
        reader.fail(error.what());
    }
}

std::vector<ScanGap> readGaps(const SidecarReader &reader) {
    std::vector<ScanGap> gaps;
    if (reader.document().member("gaps") == nullptr)
        return gaps;
    for (const JsonValue &item : reader.member("gaps", JsonValue::Kind::Array).items) {
        if (item.kind != JsonValue::Kind::Object)
            reader.fail("\"gaps\" holds something other than objects");
        gaps.push_back({reader.count(item, "first_scan"), reader.count(item, "scans_lost")});
    }
    return gaps;
}

} // namespace

std::string sidecarText(const SidecarContents &contents) {
    const AcquisitionInfo &info = contents.info;
    std::string channels;
    for (uint32_t i = 0; i < info.channelCount(); ++i)
        channels += (i ? ", " : "") + std::to_string(info.channel(i));
    std::string record;
    for (const AdField &field : adFields())
        record += std::string(record.empty() ? "" : ", ") + "\"" + field.name + "\": " +
                  std::to_string(info.para.*field.member);
    const uint64_t samples = contents.scans * info.channelCount();
    // The scans lost on the way count: the acquisition ran to its end.
    uint64_t lost = 0;
    for (const ScanGap &gap : contents.gaps)
        lost += gap.scansLost;
    const bool complete = info.continuous || contents.scans + lost == info.plannedScans;
    return "{\n"
           "  \"format\": \"kvd4093 samples\",\n"
           "  \"sample_encoding\": \"uint16 little-endian, offset binary (32768 is zero)\",\n"
           "  \"layout\": \"scans one after another, channels in the order listed\",\n"
           "  \"card\": {\"logical_number\": " + std::to_string(info.logicalNumber) +
           ", \"physical_id\": " + std::to_string(info.physicalId) + ", \"version\": \"" + info.cardVersion + "\"},\n"
           "  \"channels\": [" + channels + "],\n"
           "  \"rate_hz\": " + number(info.sampleRate) + ",\n"
           "  \"scan_rate_hz\": " + number(info.scanRate()) + ",\n"
           "  \"start_time\": \"" + info.startTime + "\",\n"
           "  \"start_utc_ns\": " + std::to_string(info.startUtcNanoseconds) + ",\n"
           "  \"start_monotonic_ns\": " + std::to_string(info.startMonotonicNanoseconds) + ",\n"
           "  \"first_scan_after_start_s\": " + number(info.firstScanSeconds()) + ",\n"
           "  \"samples\": " + std::to_string(samples) + ",\n"
           "  \"scans\": " + std::to_string(contents.scans) + ",\n"
           "  \"planned_scans\": " + std::to_string(info.plannedScans) + ",\n"
           "  \"continuous\": " + (info.continuous ? "true" : "false") + ",\n"
           "  \"complete\": " + (complete ? "true" : "false") + ",\n"
           "  \"scale\": " + scaleText(info.scale) + ",\n"
           "  \"gaps\": " + gapsText(contents.gaps) + ",\n"
           "  \"ad_para\": {" + record + "}\n"
           "}\n";
}

SidecarContents readSidecar(const std::string &path) {
    const SidecarReader reader(path, parseFile(path));
    SidecarContents contents;
    AcquisitionInfo &info = contents.info;
    const JsonValue &record = reader.member("ad_para", JsonValue::Kind::Object);
    for (const AdField &field : adFields())
        info.para.*field.member = reader.integer(record, field.name);
    const JsonValue &card = reader.member("card", JsonValue::Kind::Object);
    info.logicalNumber = reader.integer(card, "logical_number");
    info.physicalId = reader.integer(card, "physical_id");
    if (const JsonValue *version = card.member("version"); version && version->kind == JsonValue::Kind::String)
        info.cardVersion = version->text;
    if (info.lastChannel() < info.firstChannel() ||
        reader.member("channels", JsonValue::Kind::Array).items.size() != info.channelCount())
        reader.fail("\"channels\" is not the channels of \"ad_para\"");
    info.sampleRate = reader.positive("rate_hz");
    info.startTime = reader.member("start_time", JsonValue::Kind::String).text;
    // Written before these were recorded: unknown, 0.
    if (reader.document().member("start_utc_ns") != nullptr)
        info.startUtcNanoseconds = int64_t(reader.count(reader.document(), "start_utc_ns"));
    if (reader.document().member("start_monotonic_ns") != nullptr)
        info.startMonotonicNanoseconds = int64_t(reader.count(reader.document(), "start_monotonic_ns"));
    contents.scans = reader.count(reader.document(), "scans");
    const JsonValue *continuous = reader.document().member("continuous");
    info.continuous = continuous != nullptr && continuous->kind == JsonValue::Kind::Boolean && continuous->boolean;
    // Written before these were recorded: a complete run planned its scans.
    if (reader.document().member("planned_scans") != nullptr)
        info.plannedScans = reader.count(reader.document(), "planned_scans");
    else if (reader.member("complete", JsonValue::Kind::Boolean).boolean)
        info.plannedScans = contents.scans;
    info.scale = readScale(reader);
    contents.gaps = readGaps(reader);
    return contents;
}

} // namespace kvd::tool
