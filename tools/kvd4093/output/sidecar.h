// The JSON sidecar FILE.bin.json beside a raw binary file, which says what
// its bytes are: rate, channels, card, the start (UTC in ISO 8601 and in
// nanoseconds, the monotonic clock's nanoseconds, how long after it scan 0
// came), sample and scan counts, whether the acquisition ran to its end, the
// scale, the scans lost on the way, and the whole ADPara record, in JSON
// (nlohmann-json both ways). `kvd4093 convert` reads it back to write the
// samples in another format.
#pragma once

#include <cstdint>
#include <string>

#include "output/run_record.h"

namespace kvd::tool {

std::string sidecarText(const RunRecord &contents);

// Reads the sidecar at path, a regular file of at most 16 MiB; throws
// ToolError naming the file and the field that is missing or holds what
// sidecarText could not write back (a number beyond its type's range, a
// rate that is no positive normal number, a text with a control character).
RunRecord readSidecar(const std::string &path);

// What the sidecar says of a run before its first scan, without what counts
// a file's contents (samples, scans, complete, gaps): the run's description
// that a publisher sends ahead of its samples (docs/mqtt.md). Members the
// reader does not know are left alone; `shownAs` names the text in messages.
std::string runDescriptionText(const AcquisitionInfo &info);
AcquisitionInfo readRunDescription(const std::string &shownAs, const std::string &text);

} // namespace kvd::tool
