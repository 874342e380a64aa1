#include "output/sidecar.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "card/ad_fields.h"
#include "common/errors.h"
#include "output/small_text_file.h"

namespace kvd::tool {
namespace {

// Members in the order written, so the file reads as documented.
using Json = nlohmann::ordered_json;

// A sidecar holds a few hundred bytes and about 50 a gap: this is room for
// some 300 000 gaps, and a bound on what a file that is no sidecar costs.
constexpr size_t kMostSidecarBytes = size_t(16) << 20;
// Nesting deeper than this is not a sidecar.
constexpr int kMostDepth = 32;

// ---- writing --------------------------------------------------------------

// Text that is not UTF-8 (a card's version is bytes) is written with
// U+FFFD in place of what it cannot show, never refused. A whole rate keeps
// the form earlier sidecars gave it, 50000 rather than 50000.0.
std::string dumped(const Json &value) {
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (value.is_number_float() && text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0)
        text.resize(text.size() - 2);
    return text;
}

// A value on one line, ", " and ": " between its parts, as a person writes it.
std::string oneLine(const Json &value) {
    if (!value.is_structured() || value.empty())
        return dumped(value);
    std::string text;
    for (auto item = value.begin(); item != value.end(); ++item) {
        text += text.empty() ? "" : ", ";
        if (value.is_object())
            text += dumped(item.key()) + ": ";
        text += oneLine(*item);
    }
    return value.is_object() ? "{" + text + "}" : "[" + text + "]";
}

// One member a line.
std::string layout(const Json &document) {
    std::string text = "{\n";
    for (auto member = document.begin(); member != document.end(); ++member)
        text += std::string(member == document.begin() ? "" : ",\n") + "  " + dumped(member.key()) + ": " +
                oneLine(*member);
    return text + "\n}\n";
}

// The scale's numbers as the decimal text --scale took: a JSON number each.
Json scaleJson(const Scale &scale) {
    if (!scale.given)
        return nullptr;
    Json object = Json::object();
    object["gain"] = Json::parse(scale.gainText);
    object["offset"] = Json::parse(scale.offsetText);
    object["unit"] = scale.unit;
    return object;
}

Json gapsJson(const std::vector<ScanGap> &gaps) {
    Json list = Json::array();
    for (const ScanGap &gap : gaps)
        list.push_back(Json{{"first_scan", gap.firstScan}, {"scans_lost", gap.scansLost}});
    return list;
}

// ---- reading --------------------------------------------------------------

// Every member the tool needs, each refused with its name when it is missing
// or holds what the writer could not write back.
class SidecarReader {
public:
    SidecarReader(std::string path, Json document) : path_(std::move(path)), document_(std::move(document)) {}

    [[noreturn]] void fail(const std::string &what) const { throw ToolError(path_ + ": " + what); }

    const Json &document() const { return document_; }

    bool has(const Json &object, const char *name) const { return object.contains(name); }

    const Json &member(const Json &object, const char *name) const {
        const auto found = object.find(name);
        if (found == object.end())
            fail(quoted(name) + " is missing");
        return *found;
    }

    const Json &object(const Json &parent, const char *name) const {
        const Json &value = member(parent, name);
        if (!value.is_object())
            fail(quoted(name) + " is not an object");
        return value;
    }

    const Json &list(const Json &parent, const char *name) const {
        const Json &value = member(parent, name);
        if (!value.is_array())
            fail(quoted(name) + " is not a list");
        return value;
    }

    bool truth(const Json &parent, const char *name) const {
        const Json &value = member(parent, name);
        if (!value.is_boolean())
            fail(quoted(name) + " is not true or false");
        return value.get<bool>();
    }

    // Text the other formats record on a line of their own: no control characters.
    std::string line(const Json &parent, const char *name) const {
        const Json &value = member(parent, name);
        if (!value.is_string())
            fail(quoted(name) + " is not text");
        std::string text = value.get<std::string>();
        for (const char c : text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                fail(quoted(name) + " holds a control character");
        return text;
    }

    // A whole number of the member's type: the writer writes any of them back.
    template <typename Integer> Integer whole(const Json &parent, const char *name) const {
        const Json &value = member(parent, name);
        using Limits = std::numeric_limits<Integer>;
        bool fits = false;
        if (value.is_number_unsigned()) {
            fits = value.get<uint64_t>() <= uint64_t(Limits::max());
        } else if (value.is_number_integer()) {
            const int64_t number = value.get<int64_t>();
            fits = number >= int64_t(Limits::min()) && (number < 0 || uint64_t(number) <= uint64_t(Limits::max()));
        }
        if (!fits)
            fail(quoted(name) + " is not a whole number from " + std::to_string(Limits::min()) + " to " +
                 std::to_string(Limits::max()));
        return value.get<Integer>();
    }

    // A rate is a positive normal number: no infinity, no zero, nothing so
    // small that the scan rate or scan 0's time would not be one.
    double rate(const char *name, const AcquisitionInfo &info) const {
        const Json &value = member(document_, name);
        AcquisitionInfo check = info;
        check.sampleRate = value.is_number() ? value.get<double>() : 0;
        if (!std::isnormal(check.sampleRate) || check.sampleRate < 0 || !std::isnormal(check.scanRate()) ||
            !std::isfinite(check.firstScanSeconds()))
            fail(quoted(name) + " is not a positive normal number");
        return check.sampleRate;
    }

    static std::string quoted(const char *name) { return std::string("\"") + name + "\""; }

private:
    std::string path_;
    Json document_;
};

// The document. What stops it being JSON, or a number beyond a double
// (1e999), is refused with the name of the member it came after.
Json parseText(const std::string &path, const std::string &text) {
    std::string lastKey;
    const auto watch = [&](int depth, Json::parse_event_t event, Json &parsed) {
        if (event == Json::parse_event_t::key)
            lastKey = parsed.get<std::string>();
        if (depth > kMostDepth)
            throw ToolError(path + ": nested deeper than a sidecar is");
        return true;
    };
    try {
        return Json::parse(text, watch);
    } catch (const Json::out_of_range &) {
        throw ToolError(path + ": \"" + lastKey + "\" is a number beyond the range of a double");
    } catch (const Json::exception &error) {
        const std::string what = error.what(); // "[json.exception.parse_error.101] parse error at ..."
        throw ToolError(path + ": not JSON" + (lastKey.empty() ? "" : " after \"" + lastKey + "\"") + ": " +
                        what.substr(what.find("] ") + 2));
    }
}

Scale readScale(const SidecarReader &reader) {
    if (!reader.has(reader.document(), "scale") || reader.document()["scale"].is_null())
        return {};
    const Json &object = reader.object(reader.document(), "scale");
    const auto number = [&](const char *name) {
        const Json &value = reader.member(object, name);
        if (!value.is_number())
            reader.fail(SidecarReader::quoted(name) + " is not a number");
        return value.dump();
    };
    const std::string unit = reader.line(object, "unit");
    try {
        return scaleFromText(number("gain"), number("offset"), unit);
    } catch (const ToolError &error) {
        reader.fail(error.what());
    }
}

std::vector<ScanGap> readGaps(const SidecarReader &reader) {
    std::vector<ScanGap> gaps;
    if (!reader.has(reader.document(), "gaps"))
        return gaps;
    for (const Json &item : reader.list(reader.document(), "gaps")) {
        if (!item.is_object())
            reader.fail("\"gaps\" holds something other than objects");
        gaps.push_back({reader.whole<uint64_t>(item, "first_scan"), reader.whole<uint64_t>(item, "scans_lost")});
    }
    return gaps;
}

// Scan numbers count the scans kept and lost: all of them fit in 64 bits,
// and so do the bytes of the scans kept.
void checkCounts(const SidecarReader &reader, const RunRecord &contents) {
    const uint64_t most = std::numeric_limits<uint64_t>::max();
    if (contents.scans > most / (sizeof(uint16_t) * contents.info.channelCount()))
        reader.fail("\"scans\" is more than a file of 64-bit size holds");
    uint64_t numbered = contents.scans;
    for (const ScanGap &gap : contents.gaps) {
        if (gap.scansLost > most - numbered)
            reader.fail("\"gaps\" lose more scans than 64-bit scan numbers count");
        numbered += gap.scansLost;
    }
}

// Members in the order the sidecar has always written them.
Json sidecarDocument(const RunRecord &contents) {
    const AcquisitionInfo &info = contents.info;
    Json record = Json::object();
    for (const AdField &field : adFields())
        record[field.name] = info.para.*field.member;
    Json document = Json::object();
    document["format"] = "kvd4093 samples";
    document["sample_encoding"] = "uint16 little-endian, offset binary (32768 is zero)";
    document["layout"] = "scans one after another, channels in the order listed";
    document["card"] = Json{{"logical_number", info.logicalNumber},
                            {"physical_id", info.physicalId},
                            {"version", info.cardVersion}};
    if (!info.groupCards.empty()) {
        Json cards = Json::array();
        for (const GroupCard &card : info.groupCards)
            cards.push_back(Json{{"logical_number", card.logicalNumber}, {"physical_id", card.physicalId}});
        document["group_cards"] = cards;
    }
    document["channels"] = contents.channels();
    document["rate_hz"] = info.sampleRate;
    document["scan_rate_hz"] = info.scanRate();
    document["start_time"] = info.startTime;
    document["start_utc_ns"] = info.startUtcNanoseconds;
    document["start_monotonic_ns"] = info.startMonotonicNanoseconds;
    document["first_scan_after_start_s"] = info.firstScanSeconds();
    document["samples"] = contents.scans * info.channelCount();
    document["scans"] = contents.scans;
    document["planned_scans"] = info.plannedScans;
    document["continuous"] = info.continuous;
    document["complete"] = contents.complete();
    document["scale"] = scaleJson(info.scale);
    document["gaps"] = gapsJson(contents.gaps);
    document["ad_para"] = record;
    return document;
}

// The members that count what a file holds, which a run's description leaves out.
constexpr const char *kFileCounts[] = {"format", "samples", "scans", "complete", "gaps"};

AcquisitionInfo readInfo(const SidecarReader &reader) {
    const Json &document = reader.document();
    if (!document.is_object())
        reader.fail("not a JSON object");
    AcquisitionInfo info;
    const Json &record = reader.object(document, "ad_para");
    for (const AdField &field : adFields())
        info.para.*field.member = reader.whole<int32_t>(record, field.name);
    const Json &card = reader.object(document, "card");
    info.logicalNumber = reader.whole<int32_t>(card, "logical_number");
    info.physicalId = reader.whole<int32_t>(card, "physical_id");
    if (reader.has(card, "version"))
        info.cardVersion = reader.line(card, "version");
    if (reader.has(document, "group_cards"))
        for (const Json &member : reader.list(document, "group_cards"))
            info.groupCards.push_back(
                {reader.whole<int32_t>(member, "logical_number"), reader.whole<int32_t>(member, "physical_id")});
    if (info.lastChannel() < info.firstChannel() || reader.list(document, "channels").size() != info.channelCount())
        reader.fail("\"channels\" is not the channels of \"ad_para\"");
    info.sampleRate = reader.rate("rate_hz", info);
    info.startTime = reader.line(document, "start_time");
    // Written before these were recorded: unknown, 0.
    if (reader.has(document, "start_utc_ns"))
        info.startUtcNanoseconds = reader.whole<int64_t>(document, "start_utc_ns");
    if (reader.has(document, "start_monotonic_ns"))
        info.startMonotonicNanoseconds = reader.whole<int64_t>(document, "start_monotonic_ns");
    info.continuous = reader.has(document, "continuous") && reader.truth(document, "continuous");
    if (reader.has(document, "planned_scans"))
        info.plannedScans = reader.whole<uint64_t>(document, "planned_scans");
    info.scale = readScale(reader);
    return info;
}

} // namespace

std::string sidecarText(const RunRecord &contents) { return layout(sidecarDocument(contents)); }

std::string runDescriptionText(const AcquisitionInfo &info) {
    Json document = sidecarDocument({info, 0, {}});
    for (const char *count : kFileCounts)
        document.erase(count);
    return layout(document);
}

AcquisitionInfo readRunDescription(const std::string &shownAs, const std::string &text) {
    return readInfo(SidecarReader(shownAs, parseText(shownAs, text)));
}

RunRecord readSidecar(const std::string &path) {
    const SidecarReader reader(path, parseText(path, readSmallTextFile(path, kMostSidecarBytes)));
    RunRecord contents;
    contents.info = readInfo(reader);
    const Json &document = reader.document();
    contents.scans = reader.whole<uint64_t>(document, "scans");
    // Written before planned scans were recorded: a complete run planned its scans.
    if (!reader.has(document, "planned_scans") && reader.truth(document, "complete"))
        contents.info.plannedScans = contents.scans;
    contents.gaps = readGaps(reader);
    checkCounts(reader, contents);
    return contents;
}

} // namespace kvd::tool
