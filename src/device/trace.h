// The request trace: with KVD4093_TRACE=FILE every driver request of the
// process appends one line to FILE. It sits at the driver-request seam, so it
// shows real and virtual cards alike. Disabled, it costs one branch.
#pragma once

#include <atomic>
#include <cstdint>

namespace kvd::trace {

struct Sink;
extern std::atomic<Sink *> g_sink;

inline bool enabled() { return g_sink.load(std::memory_order_relaxed) != nullptr; }

// One driver request as the trace shows it.
struct Line {
    int32_t card;           // the logical number the card was opened under
    uint32_t code;          // the request code
    uint32_t pipe;          // for bulk requests
    uint32_t asked;         // bytes asked for
    uint32_t returned;      // bytes returned
    int32_t result;         // the request's truth value
    const uint8_t *data;    // bytes to show, or nullptr
    uint32_t dataSize;      // how many of them (at most 32)
};

// Formats one line, newline included, into out (at least 160 bytes); returns its length.
uint32_t format(const Line &line, char *out);

// Appends one line whole; lines of several threads never mix.
void record(const Line &line);

// Appends the line of an open that failed because another program holds
// the card: "card=0 OPEN status=16 busy: in use by another program".
void recordBusyOpen(int32_t card, uint32_t status);

// Sends the trace to a file (appending), or stops it with nullptr. Returns
// false when the file cannot be opened; the trace is then off. The
// environment's KVD4093_TRACE is applied the same way when the library loads.
bool traceTo(const char *path);

} // namespace kvd::trace
