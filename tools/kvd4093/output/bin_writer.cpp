#include "output/bin_writer.h"

#include <filesystem>

#include "output/sidecar.h"

namespace kvd::tool {
namespace {

// Room for longer counts and a few gaps beyond the sidecar of the start.
constexpr size_t kSidecarSlack = 1024;

} // namespace

BinWriter::BinWriter(std::string path) : FileSink(path) {
    if (path != kStandardOutput)
        sidecar_.emplace(sidecarPath(path));
}

// The sidecar's room is taken at the start, so that a disk filled by the
// samples still has it at the end: cut back to whole blocks, the samples
// keep their description.
void BinWriter::begin(const AcquisitionInfo &info) {
    info_ = info;
    if (!sidecar_)
        return;
    sidecar_->write(std::string(sidecarText({info, info.plannedScans, {}}).size() + kSidecarSlack, ' '));
    sidecar_->flush();
}

// The buffer holds the bytes as they came off the card, least significant
// first, whatever this machine's byte order.
void BinWriter::write(const uint16_t *samples, uint64_t, size_t scans) {
    file().write(samples, scans * info_.channelCount() * sizeof(uint16_t));
    file().flush(); // a reader of the file or the pipe sees every block as it comes
    scans_ += scans;
    commitSamples();
}

void BinWriter::gap(uint64_t firstScan, uint64_t scansLost) { gaps_.push_back({firstScan, scansLost}); }

// The samples take their name; a sidecar of an earlier run beside them no
// longer describes them, so it goes until this run's is written.
void BinWriter::commitSamples() {
    file().commit();
    if (sidecar_ && !earlierSidecarRemoved_) {
        std::error_code ignored;
        std::filesystem::remove(sidecar_->path(), ignored);
        earlierSidecarRemoved_ = true;
    }
}

// The samples have their name: the sidecar that describes them follows.
void BinWriter::completeBeside() {
    commitSamples();
    if (!sidecar_)
        return;
    sidecar_->keepWanted();
    sidecar_->close();
    sidecar_->replaceContents(sidecarText({info_, scans_, gaps_}));
    sidecar_->commit();
}

} // namespace kvd::tool
