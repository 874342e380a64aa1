// A test aid and nothing else: the variable KVD4093_TOOL_TEST_STALL_WRITER,
// "SCAN:MILLISECONDS[,SCAN:MILLISECONDS...]", makes the thread that writes
// the outputs sleep MILLISECONDS before it writes the first block that
// reaches scan SCAN, as a disk that stalls would, so that the tests can fill
// the queue on purpose. It is read here alone; unset, nothing stalls.
#pragma once

#include <cstdint>
#include <vector>

namespace kvd::tool {

constexpr char kWriterStallVariable[] = "KVD4093_TOOL_TEST_STALL_WRITER";

class WriterStall {
public:
    // The stalls the variable asks for; a malformed value asks for none and
    // says so on standard error.
    static WriterStall fromEnvironment();

    // Sleeps for every stall not taken yet whose scan the block of `scans`
    // scans from `firstScan` reaches.
    void before(uint64_t firstScan, uint32_t scans);

private:
    struct Stall {
        uint64_t scan = 0;
        uint32_t milliseconds = 0;
        bool taken = false;
    };
    std::vector<Stall> stalls_;
};

} // namespace kvd::tool
