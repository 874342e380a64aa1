// The meta message of a run: the run's description as the sidecar gives it
// (output/sidecar.h: channels, rates, the record's fields, the start's
// clocks, the cards of a group, the scale) and what a collector needs
// besides: the run identifier the ai messages carry, the publishing host,
// the tool's version and the block format's.
#pragma once

#include <cstdint>
#include <string>

#include "output/sample_sink.h"

namespace kvd::tool {

struct RunMeta {
    AcquisitionInfo info;
    uint64_t runId = 0;
    std::string host;
};

std::string runMetaText(const RunMeta &meta);
// Throws ToolError naming `shownAs` (the topic) for what is not a meta message.
RunMeta readRunMeta(const std::string &shownAs, const std::string &text);

// The run identifier as the meta message and file names write it: 16 hex digits.
std::string runIdText(uint64_t runId);
// A new identifier, from the system's random source.
uint64_t newRunId();

} // namespace kvd::tool
