#include "output/hdf5_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <type_traits>
#include <utility>

#include <hdf5.h>

#include "card/ad_fields.h"
#include "common/errors.h"
#include "output/run_record.h"

namespace kvd::tool {
namespace {

static_assert(std::is_same_v<hid_t, int64_t>, "the header keeps identifiers as int64_t");

// A chunk is about 256 KiB: written whole, straight to the file.
constexpr size_t kChunkBytes = 256 << 10;
constexpr const char *kDataset = "samples";
constexpr const char *kGapsDataset = "gaps";
constexpr const char *kEncoding = "uint16 codes, offset binary (32768 is zero); with scale_gain, scale_offset "
                                  "and scale_unit: value = code x scale_gain + scale_offset";

// Closes an identifier of the library when it goes.
class Handle {
public:
    Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    ~Handle() {
        if (id_ >= 0)
            close_(id_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    operator hid_t() const { return id_; }

private:
    hid_t id_;
    herr_t (*close_)(hid_t);
};

hid_t textType() {
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, H5T_VARIABLE);
    H5Tset_cset(type, H5T_CSET_UTF8);
    return type;
}

} // namespace

// The staged file is made empty and closed: the library writes it.
Hdf5Writer::Hdf5Writer(std::string path) : FileSink(std::move(path)) {
    file().close();
    // Failures come back as results; the library's own printing of its
    // error stack would only repeat them.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    hdf5File_ = check("create",
                      [&] { return H5Fcreate(file().writtenPath().c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT); });
}

Hdf5Writer::~Hdf5Writer() { closeAll(); }

// Runs one call of the library; a negative result throws, with the system's
// reason when the call failed on one (a full disk).
template <typename Call> int64_t Hdf5Writer::check(const char *verb, Call call) {
    errno = 0;
    const auto result = call();
    if (result >= 0)
        return int64_t(result);
    failed_ = true;
    const int error = errno;
    throw ToolError(std::string("cannot ") + verb + " " + file().path() + ": " +
                    (error != 0 ? std::strerror(error) : "the HDF5 library failed"));
}

void Hdf5Writer::begin(const AcquisitionInfo &info) {
    info_ = info;
    const uint32_t channels = info.channelCount();
    chunkScans_ = std::max<uint64_t>(1, kChunkBytes / (sizeof(uint16_t) * channels));
    chunk_.assign(chunkScans_ * channels, 0);
    const hsize_t dims[2] = {0, channels};
    const hsize_t most[2] = {H5S_UNLIMITED, channels};
    const hsize_t chunk[2] = {chunkScans_, channels};
    const Handle space(check("write", [&] { return H5Screate_simple(2, dims, most); }), H5Sclose);
    const Handle properties(check("write", [&] { return H5Pcreate(H5P_DATASET_CREATE); }), H5Pclose);
    check("write", [&] { return H5Pset_chunk(properties, 2, chunk); });
    // No creation time: a file converted later is the same file.
    check("write", [&] { return H5Pset_obj_track_times(properties, false); });
    dataset_ = check("write", [&] {
        return H5Dcreate2(hdf5File_, kDataset, H5T_STD_U16LE, space, H5P_DEFAULT, properties, H5P_DEFAULT);
    });
}

void Hdf5Writer::write(const uint16_t *samples, uint64_t, size_t scans) {
    if (failed_)
        return;
    const uint32_t channels = info_.channelCount();
    while (scans > 0) {
        const size_t taken = std::min<uint64_t>(scans, chunkScans_ - chunkHeld_);
        std::memcpy(chunk_.data() + chunkHeld_ * channels, samples, taken * channels * sizeof(uint16_t));
        chunkHeld_ += taken;
        samples += taken * channels;
        scans -= taken;
        if (chunkHeld_ == chunkScans_)
            writeChunk();
    }
}

// The chunk goes to the file as it is: the samples are little-endian
// codes, the dataset's own type. A last chunk only partly filled is written
// whole; the dataset's extent ends where its scans end.
void Hdf5Writer::writeChunk() {
    const hsize_t extent[2] = {scans_ + chunkHeld_, info_.channelCount()};
    const hsize_t offset[2] = {scans_, 0};
    check("write", [&] { return H5Dset_extent(dataset_, extent); });
    check("write", [&] {
        return H5Dwrite_chunk(dataset_, H5P_DEFAULT, 0, offset, chunk_.size() * sizeof(uint16_t), chunk_.data());
    });
    scans_ += chunkHeld_;
    chunkHeld_ = 0;
    std::fill(chunk_.begin(), chunk_.end(), 0);
}

void Hdf5Writer::gap(uint64_t firstScan, uint64_t scansLost) { gaps_.push_back({firstScan, scansLost}); }

void Hdf5Writer::writeAttributes() {
    const auto put = [&](const char *name, hid_t fileType, hid_t memoryType, hid_t space, const void *value) {
        const Handle attribute(
            check("write", [&] { return H5Acreate2(dataset_, name, fileType, space, H5P_DEFAULT, H5P_DEFAULT); }),
            H5Aclose);
        check("write", [&] { return H5Awrite(attribute, memoryType, value); });
    };
    const Handle scalar(H5Screate(H5S_SCALAR), H5Sclose);
    const Handle text(textType(), H5Tclose);
    const auto putNumber = [&](const char *name, double value) {
        put(name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, scalar, &value);
    };
    const auto putInteger = [&](const char *name, int32_t value) {
        put(name, H5T_STD_I32LE, H5T_NATIVE_INT32, scalar, &value);
    };
    const auto putCount = [&](const char *name, uint64_t value) {
        put(name, H5T_STD_U64LE, H5T_NATIVE_UINT64, scalar, &value);
    };
    const auto putSigned = [&](const char *name, int64_t value) {
        put(name, H5T_STD_I64LE, H5T_NATIVE_INT64, scalar, &value);
    };
    const auto putText = [&](const char *name, const std::string &value) {
        const char *characters = value.c_str();
        put(name, text, text, scalar, &characters);
    };

    putText("sample_encoding", kEncoding);
    putNumber("sample_rate_hz", info_.sampleRate);
    putNumber("scan_rate_hz", info_.scanRate());
    const RunRecord run{info_, scans_, gaps_};
    const std::vector<int32_t> channels = run.channels();
    const hsize_t channelCount = channels.size();
    const Handle channelSpace(H5Screate_simple(1, &channelCount, nullptr), H5Sclose);
    put("channels", H5T_STD_I32LE, H5T_NATIVE_INT32, channelSpace, channels.data());
    putInteger("card_logical_number", info_.logicalNumber);
    putInteger("card_physical_id", info_.physicalId);
    putText("card_version", info_.cardVersion);
    if (!info_.groupCards.empty()) {
        std::vector<int32_t> logical, physical;
        for (const GroupCard &card : info_.groupCards) {
            logical.push_back(card.logicalNumber);
            physical.push_back(card.physicalId);
        }
        const hsize_t cardCount = logical.size();
        const Handle cardSpace(H5Screate_simple(1, &cardCount, nullptr), H5Sclose);
        put("group_logical_numbers", H5T_STD_I32LE, H5T_NATIVE_INT32, cardSpace, logical.data());
        put("group_physical_ids", H5T_STD_I32LE, H5T_NATIVE_INT32, cardSpace, physical.data());
    }
    putText("start_time", info_.startTime);
    putSigned("start_utc_ns", info_.startUtcNanoseconds);
    putSigned("start_monotonic_ns", info_.startMonotonicNanoseconds);
    putNumber("first_scan_after_start_s", info_.firstScanSeconds());
    putCount("planned_scans", info_.plannedScans);
    putInteger("continuous", info_.continuous);
    putInteger("complete", run.complete());

    // The record as the card received it: one named 32-bit field each.
    std::vector<int32_t> record;
    for (const AdField &field : adFields())
        record.push_back(info_.para.*field.member);
    const Handle fileRecord(H5Tcreate(H5T_COMPOUND, record.size() * sizeof(int32_t)), H5Tclose);
    const Handle memoryRecord(H5Tcreate(H5T_COMPOUND, record.size() * sizeof(int32_t)), H5Tclose);
    for (size_t i = 0; i < record.size(); ++i) {
        H5Tinsert(fileRecord, adFields()[i].name, i * sizeof(int32_t), H5T_STD_I32LE);
        H5Tinsert(memoryRecord, adFields()[i].name, i * sizeof(int32_t), H5T_NATIVE_INT32);
    }
    put("ad_para", fileRecord, memoryRecord, scalar, record.data());

    if (info_.scale.given) {
        putNumber("scale_gain", info_.scale.gain);
        putNumber("scale_offset", info_.scale.offset);
        putText("scale_unit", info_.scale.unit);
    }
}

// The scans lost, a dataset "gaps" beside "samples": (first scan lost, scans
// lost) a row, no rows when none were. A dataset has no size limit; an
// attribute holds at most 64 KiB, some 4000 rows.
void Hdf5Writer::writeGaps() {
    std::vector<uint64_t> rows;
    for (const ScanGap &gap : gaps_)
        rows.insert(rows.end(), {gap.firstScan, gap.scansLost});
    const hsize_t dims[2] = {gaps_.size(), 2};
    const Handle space(check("write", [&] { return H5Screate_simple(2, dims, nullptr); }), H5Sclose);
    const Handle properties(check("write", [&] { return H5Pcreate(H5P_DATASET_CREATE); }), H5Pclose);
    check("write", [&] { return H5Pset_obj_track_times(properties, false); });
    const Handle gaps(check("write", [&] {
                          return H5Dcreate2(hdf5File_, kGapsDataset, H5T_STD_U64LE, space, H5P_DEFAULT, properties,
                                            H5P_DEFAULT);
                      }),
                      H5Dclose);
    if (!rows.empty())
        check("write", [&] { return H5Dwrite(gaps, H5T_NATIVE_UINT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, rows.data()); });
}

void Hdf5Writer::complete() {
    if (chunkHeld_ > 0)
        writeChunk();
    writeAttributes();
    writeGaps();
    check("write", [&] { return H5Dclose(std::exchange(dataset_, -1)); });
    check("write", [&] { return H5Fclose(std::exchange(hdf5File_, -1)); });
}

void Hdf5Writer::closeAll() {
    if (dataset_ >= 0)
        H5Dclose(std::exchange(dataset_, -1));
    if (hdf5File_ >= 0)
        H5Fclose(std::exchange(hdf5File_, -1));
}

} // namespace kvd::tool
