// The 17 fields of the ADPara record by name, for options ("--InputRange 2"
// or "--input-range 2") and for showing a record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KVD4093.h"
#include "KVD4093_ad_fields.h"
#include "common/options.h"

namespace kvd::tool {

using fields::AdField;

// The fields in record order.
constexpr const auto &adFields() { return fields::kAdFields; }

// The record options a command was given: every field by either name, and
// the shorthands --channels FIRST-LAST and --rate (Frequency). They are taken
// before the card is opened (a bad option is a usage error whatever the
// card) and applied to the record loaded from the card's settings.
class RecordOptions {
public:
    static RecordOptions take(Arguments &arguments);
    void applyTo(ADPara &para) const;
    bool empty() const { return values_.empty(); }
    // True when an option sets this field.
    bool sets(int32_t ADPara::*member) const;

private:
    std::vector<std::pair<int32_t ADPara::*, int32_t>> values_;
};

// Those options, the first group under the heading.
OptionTable recordOptions(std::string heading);

// Fails with a usage error when the record cannot drive an acquisition the
// tool can follow: channels whose low 8 bits (what the card takes) put the
// first not above the last, a rate of 1 to 10 000 000 samples a second.
void checkAcquisitionRecord(const ADPara &para);

// The sampling rate the card runs at for the record's Frequency (facts/scan_rate.h).
double cardSampleRate(const ADPara &para);

// "Name = value" lines, one per field, in record order.
std::string describeRecord(const ADPara &para);

} // namespace kvd::tool
