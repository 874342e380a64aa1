#include "output/wav_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kvd::tool {
namespace {

constexpr size_t kHeaderBytes = 44;
constexpr uint16_t kPcm = 1;
constexpr uint16_t kBitsPerSample = 16;
// The size sox writes when it cannot know one, and takes as "read to the end".
constexpr uint32_t kUnknownSize = 0x7FFFF000;

// The 16-bit word whose bytes in memory are 0x00 0x80, on any machine.
uint16_t secondByteTopBit() {
    const unsigned char bytes[2] = {0x00, 0x80};
    uint16_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

void put16(std::string &out, uint16_t value) {
    out += char(value & 0xFF);
    out += char(value >> 8);
}

void put32(std::string &out, uint32_t value) {
    put16(out, uint16_t(value & 0xFFFF));
    put16(out, uint16_t(value >> 16));
}

} // namespace

WavWriter::WavWriter(std::string path) : FileSink(std::move(path)) {}

std::string WavWriter::header(const AcquisitionInfo &info, std::optional<uint64_t> scans) {
    const uint32_t channels = info.channelCount();
    const auto rate = static_cast<uint32_t>(std::max(1L, std::lround(info.scanRate())));
    const uint64_t dataBytes = scans ? *scans * channels * 2 : kUnknownSize;
    const uint32_t dataSize = dataBytes <= kUnknownSize ? uint32_t(dataBytes) : kUnknownSize;
    std::string out = "RIFF";
    put32(out, uint32_t(kHeaderBytes - 8) + dataSize);
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, kPcm);
    put16(out, uint16_t(channels));
    put32(out, rate);
    put32(out, rate * channels * 2);
    put16(out, uint16_t(channels * 2));
    put16(out, kBitsPerSample);
    out += "data";
    put32(out, dataSize);
    return out;
}

void WavWriter::begin(const AcquisitionInfo &info) {
    info_ = info;
    file().write(header(info, file().rewritable() ? std::optional<uint64_t>(0) : std::nullopt));
    file().flush();
}

// code - 32768 in two's complement is the code with its top bit flipped:
// the second byte of each little-endian sample, whatever this machine's
// byte order.
void WavWriter::write(const uint16_t *samples, uint64_t, size_t scans) {
    static const uint16_t flip = secondByteTopBit();
    const size_t count = scans * info_.channelCount();
    frames_.resize(count);
    for (size_t i = 0; i < count; ++i)
        frames_[i] = uint16_t(samples[i] ^ flip);
    file().write(frames_.data(), count * sizeof(uint16_t));
    file().flush(); // a reader of the pipe hears every block as it comes
    scans_ += scans;
}

// Standard output, a pipe or a device keeps the header's "unknown" sizes.
void WavWriter::complete() {
    if (file().rewritable())
        file().patch(0, header(info_, scans_));
}

} // namespace kvd::tool
