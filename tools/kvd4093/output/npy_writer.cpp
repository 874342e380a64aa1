#include "output/npy_writer.h"

namespace kvd::tool {
namespace {

constexpr char kMagic[] = "\x93NUMPY\x01\x00";
constexpr size_t kMagicBytes = sizeof kMagic - 1;
constexpr size_t kPrefixBytes = kMagicBytes + 2; // the magic, the version and the header's length

} // namespace

NpyWriter::NpyWriter(std::string path) : FileSink(std::move(path)) {}

// The dictionary, padded with spaces to a whole header that numpy aligns
// its data after: 128 bytes hold any 20-digit scan count.
std::string NpyWriter::header(uint64_t scans, uint32_t channels) {
    std::string dictionary = "{'descr': '<u2', 'fortran_order': False, 'shape': (" + std::to_string(scans) + ", " +
                             std::to_string(channels) + "), }";
    dictionary.resize(kHeaderBytes - kPrefixBytes - 1, ' ');
    dictionary += '\n';
    const size_t length = dictionary.size();
    return std::string(kMagic, kMagicBytes) + char(length & 0xFF) + char(length >> 8) + dictionary;
}

void NpyWriter::begin(const AcquisitionInfo &info) {
    channels_ = info.channelCount();
    file().write(header(info.plannedScans, channels_));
    file().flush();
}

// Little-endian codes, as the card sent them: numpy's '<u2'.
void NpyWriter::write(const uint16_t *samples, uint64_t, size_t scans) {
    file().write(samples, scans * channels_ * sizeof(uint16_t));
    file().flush();
    scans_ += scans;
}

} // namespace kvd::tool
