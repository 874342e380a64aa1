// Runs the built kvd4093 tool as a child process, the way a person would:
// in a folder of the test's own, with HOME and XDG_CONFIG_HOME inside it, a
// UTF-8 locale, unpaced virtual cards and none listed, unless the test's
// environment changes say otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace kvd::testing {

// The environment the tool runs in: the test's changes over the defaults above.
Environment toolEnvironment(const std::string &folder, const Environment &changes = {});

class ToolProcess : public ChildProcess {
public:
    ToolProcess(const std::string &folder, const std::vector<std::string> &arguments, const Environment &changes = {},
                StandardError standardError = StandardError::Pipe);
};

// True when the file exists and holds something.
bool hasContent(const std::string &path);
// Waits, at most 20 s, until the file holds something: what the tool writes
// first (a header, a first block) tells that it got so far.
void waitForContent(const std::string &path);
// Waits, at most 20 s, until the file holds the text: a request in the
// trace (KVD4093_TRACE) tells how far the tool got.
void waitForText(const std::string &path, const std::string &text);
// The AD start request in a trace: the card starts converting.
constexpr const char *kTracedAdStart = "BULK_WRITE pipe=0 len=512 ret=512 ok=1 data=0301";
// The N of "acquired N scans" in the tool's summary; UINT64_MAX when absent.
uint64_t acquiredScans(const std::string &out);

// Starts the tool and waits for it.
ChildResult runTool(const std::string &folder, const std::vector<std::string> &arguments,
                    const Environment &changes = {});

// Starts a command under kvd4093-usb-sim with the given options of its own
// (--ids, --deny) and waits for both, in the tool's environment; only in
// builds with the emulated card.
ChildResult runOnEmulatedUsb(const std::string &folder, const std::vector<std::string> &simulatorOptions,
                             const std::vector<std::string> &command, const Environment &changes = {});
// The same with the tool as the command.
ChildResult runToolOnEmulatedUsb(const std::string &folder, const std::vector<std::string> &simulatorOptions,
                                 const std::vector<std::string> &arguments, const Environment &changes = {});

} // namespace kvd::testing
