// The library on the Windows card backend alone, against the software card
// driver installed with cards of physical IDs 7, 9 and 5 (kvd4093card.exe
// install 7,9,5 before this program runs): every request goes through the
// setup enumeration, CreateFileA and DeviceIoControl to a kernel driver.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/messages.h"
#include "device/trace.h"
#include "card_model/driver_protocol.h"
#include "platform/platform.h"
#include "card_model/sample_stream.h"
#include "support/test_support.h"
#include "user_tokens.h"
#include "windows/events_made.h"

namespace kvd::testing {
namespace {

namespace protocol = kvd::protocol;
using Clock = std::chrono::steady_clock;
using vcard::SampleStream;
using vcard::Signals;

const uint8_t kPhysicalIds[] = {7, 9, 5};

// Wine runs the driver in a process of its own: what a request of method
// "neither" writes into the caller's input buffer never comes back.
bool underWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A file of a card opened through the Windows card backend alone, for
// requests below the library's.
class DriverFile {
public:
    explicit DriverFile(int32_t logicalNumber) { file_ = backend().open(logicalNumber, &status_); }
    ~DriverFile() {
        if (file_ != nullptr)
            backend().close(file_);
    }
    DriverFile(const DriverFile &) = delete;
    DriverFile &operator=(const DriverFile &) = delete;

    static const platform::CardBackend &backend() { return platform::osCardBackend(); }
    platform::BackendFile *get() const { return file_; }
    uint32_t openStatus() const { return status_; }
    bool close() {
        platform::BackendFile *file = file_;
        file_ = nullptr;
        return backend().close(file);
    }
    // A command packet on pipe 0 or 1, zero-padded to a whole packet.
    int32_t write(uint32_t pipe, std::vector<uint8_t> packet) {
        packet.resize(protocol::kPacketSize);
        uint8_t pipeWord[4];
        protocol::putPipeWord(pipeWord, pipe);
        uint32_t returned = 0;
        return backend().request(file_, protocol::kBulkWrite, pipeWord, 4, packet.data(), protocol::kPacketSize,
                                 &returned);
    }
    // A bulk read of `size` bytes on `pipe`: the result and the bytes returned.
    std::pair<int32_t, uint32_t> read(uint32_t pipe, void *out, uint32_t size) {
        uint8_t pipeWord[4];
        protocol::putPipeWord(pipeWord, pipe);
        uint32_t returned = 0;
        const int32_t result = backend().request(file_, protocol::kBulkRead, pipeWord, 4, out, size, &returned);
        return {result, returned};
    }

private:
    platform::BackendFile *file_ = nullptr;
    uint32_t status_ = 0;
};

ADPara paraFor(int32_t first, int32_t last, int32_t frequency) {
    ADPara para = {0, 0, first, last, frequency, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    return para;
}

class DriverCardTest : public ::testing::Test {
protected:
    void SetUp() override { platform::overrideCardBackend(&platform::osCardBackend()); }
    void TearDown() override {
        for (KVD4093_HANDLE handle : opened_)
            KVD4093_ReleaseDevice(handle);
        platform::overrideCardBackend(nullptr);
    }
    KVD4093_HANDLE open(int32_t logicalNumber) {
        KVD4093_HANDLE handle = KVD4093_CreateDevice(logicalNumber);
        if (handle != KVD4093_INVALID_HANDLE && handle != nullptr)
            opened_.push_back(handle);
        return handle;
    }
    int32_t physicalIdOf(KVD4093_HANDLE handle) {
        int32_t physicalId = -1;
        EXPECT_EQ(KVD4093_GetDeviceCurrentID(handle, nullptr, &physicalId), 1);
        return physicalId;
    }

    CapturedMessages messages_;
    std::vector<KVD4093_HANDLE> opened_;
};

TEST_F(DriverCardTest, OpensEachCardByLogicalNumberWithItsStatus) {
    for (int32_t n = 0; n < 3; ++n) {
        SCOPED_TRACE(n);
        KVD4093_HANDLE handle = open(n);
        ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
        ASSERT_NE(handle, nullptr) << "the card took the open packet";
        EXPECT_EQ(physicalIdOf(handle), kPhysicalIds[n]);
        uint32_t version = 0, second = 0;
        EXPECT_EQ(KVD4093_GetDevVersion(handle, &version, &second), 1);
        EXPECT_EQ(version, vcard::kVersion);
        EXPECT_EQ(second, 0x06000000u);
    }
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_CreateDevice(3), KVD4093_INVALID_HANDLE);
    EXPECT_EQ(entriesSince(before), (std::vector<LogEntry>{{"KVD4093_CreateDevice", text::kNoDeviceDriver, "1(Dec)"}}));
}

TEST_F(DriverCardTest, OpensByPhysicalIdAfterTryingTheCardsBefore) {
    const size_t before = errorLogStrings();
    KVD4093_HANDLE handle = KVD4093_CreateDeviceEx(5);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    opened_.push_back(handle);
    EXPECT_EQ(physicalIdOf(handle), 5);
    EXPECT_TRUE(entriesSince(before).empty());

    EXPECT_EQ(KVD4093_CreateDeviceEx(4), KVD4093_INVALID_HANDLE);
    const std::vector<LogEntry> entries = entriesSince(before);
    ASSERT_EQ(entries.size(), 30u) << "numbers 3 to 31 do not open, then the search fails";
    EXPECT_EQ(entries.front(), (LogEntry{"KVD4093_CreateDevice", text::kNoDeviceDriver, "1(Dec)"}));
    char missing[64];
    std::snprintf(missing, sizeof missing, text::kPhysicalIdMissingFormat, 4);
    EXPECT_EQ(entries.back(), (LogEntry{"KVD4093_CreateDeviceEx", missing, "1(Dec)"}));
}

// The identity requests reach the driver with their code and length (it
// refuses a buffer shorter than 4 bytes). Under Wine the answer stays in
// the driver's process; on Windows it lands in the input buffer.
TEST_F(DriverCardTest, IdentityRequestsReachTheDriverWithCodeAndLength) {
    const platform::CardBackend &backend = platform::osCardBackend();
    for (int32_t n = 0; n < 3; ++n) {
        SCOPED_TRACE(n);
        uint32_t status = 1;
        platform::BackendFile *file = backend.open(n, &status);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(status, 0u);
        const struct {
            uint32_t code;
            int32_t answer;
        } requests[] = {{protocol::kGetCurrentId, n}, {protocol::kGetDeviceCount, 3}};
        for (const auto &request : requests) {
            uint8_t input[4] = {0xEE, 0xEE, 0xEE, 0xEE};
            uint32_t returned = 0;
            EXPECT_NE(backend.request(file, request.code, input, 4, nullptr, 0, &returned), 0);
            EXPECT_EQ(returned, 4u);
            if (!underWine()) {
                EXPECT_EQ(protocol::readLe32(input), uint32_t(request.answer));
            }
            EXPECT_EQ(backend.request(file, request.code, input, 3, nullptr, 0, &returned), 0) << "too short";
        }
        uint32_t returned = 0;
        EXPECT_EQ(backend.request(file, 0x00222FFF, nullptr, 0, nullptr, 0, &returned), 0) << "unknown code";
        EXPECT_TRUE(backend.close(file));
    }
}

// The report lists the same cards as on virtual cards 7, 9, 5; only the
// count, which comes from an identity request, differs under Wine.
TEST_F(DriverCardTest, DeviceListNamesEveryCardAsOnVirtualCards) {
    ASSERT_EQ(KVD4093_ListDeviceDlg(), 1);
    vcard::install({7, 9, 5});
    ASSERT_EQ(KVD4093_ListDeviceDlg(), 1);
    vcard::uninstall();
    const std::vector<Message> shown = messages_.messages();
    ASSERT_EQ(shown.size(), 2u);
    std::vector<std::string> driver = linesOf(shown[0].text), onVirtualCards = linesOf(shown[1].text);
    ASSERT_GT(driver.size(), 8u);
    if (underWine())
        driver.front() = onVirtualCards.front();
    EXPECT_EQ(driver, onVirtualCards);
    EXPECT_EQ(shown[0].caption, text::kListCaption);
}

// A typical acquisition: set-up, reads, stop. The samples are the card
// model's waveforms, scan after scan, after the 512 the set-up discards.
TEST_F(DriverCardTest, SetUpReadAndStopDeliverTheModelsWaveforms) {
    KVD4093_HANDLE handle = open(0);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    const ADPara para = paraFor(0, 3, 100000);
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &para), 1);
    std::vector<uint16_t> samples(4000);
    uint32_t got = 0;
    ASSERT_EQ(KVD4093_ReadDeviceAD(handle, samples.data(), 4000, &got), 1);
    ASSERT_EQ(got, 4000u);
    for (uint32_t i = 0; i < got; ++i)
        ASSERT_EQ(samples[i], SampleStream::sampleAt(Signals::Waveforms, i % 4, 128 + i / 4)) << i;
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle), 1);
}

// A steady acquisition makes no kernel object per request: the reads, which
// wait in the driver for their samples, run on events kept from the first
// ones, and each still ends with its own samples.
TEST_F(DriverCardTest, ASteadyAcquisitionMakesNoEventPerRead) {
    KVD4093_HANDLE handle = open(0);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    const ADPara para = paraFor(0, 3, 100000);
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &para), 1);
    std::vector<uint16_t> samples(400);
    uint32_t got = 0;
    ASSERT_EQ(KVD4093_ReadDeviceAD(handle, samples.data(), 400, &got), 1);
    const EventsMade made;
    ASSERT_TRUE(made.watching());
    uint64_t next = 128 + 100; // scans: those the set-up discards, then the first read's
    for (int read = 0; read < 100; ++read) {
        ASSERT_EQ(KVD4093_ReadDeviceAD(handle, samples.data(), 400, &got), 1);
        ASSERT_EQ(got, 400u);
        for (uint32_t i = 0; i < got; ++i)
            ASSERT_EQ(samples[i], SampleStream::sampleAt(Signals::Waveforms, i % 4, next + i / 4)) << read << " " << i;
        next += 100;
    }
    EXPECT_EQ(made.count(), 0) << "events made for 100 reads";
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle), 1);
}

// Starts a slow acquisition on one channel and a read of `count` samples in
// another thread, and waits until that read is inside the driver.
std::future<std::pair<int32_t, uint32_t>> pendingRead(KVD4093_HANDLE handle, std::vector<uint16_t> &samples,
                                                       int32_t frequency) {
    const ADPara para = paraFor(0, 0, frequency);
    EXPECT_EQ(KVD4093_InitDeviceAD(handle, &para), 1);
    auto read = std::async(std::launch::async, [handle, &samples] {
        uint32_t got = 0;
        const int32_t result = KVD4093_ReadDeviceAD(handle, samples.data(), uint32_t(samples.size()), &got);
        return std::make_pair(result, got);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return read;
}

TEST_F(DriverCardTest, StopInAnotherThreadCompletesAReadWaitingInTheDriver) {
    KVD4093_HANDLE handle = open(0);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    std::vector<uint16_t> samples(20000); // 20 s at 1 kHz, 0.13 s at the stop's fast rate
    auto read = pendingRead(handle, samples, 1000);
    ASSERT_EQ(read.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "the read waits";
    const auto start = Clock::now();
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle), 1);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500)) << "the restart ended the read before the limit";
    const auto [result, got] = read.get();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(got, 20000u);
}

// A read waiting in the driver stays there while other requests on the same
// file complete: each request waits for its own completion, not the file's.
TEST_F(DriverCardTest, WritesOnOtherPipesDoNotEndAWaitingRead) {
    KVD4093_HANDLE handle = open(0);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    std::vector<uint16_t> samples(5000, 0xABCD); // 5 s at 1 kHz
    auto read = pendingRead(handle, samples, 1000);
    for (int i = 0; i < 20; ++i) {
        const uint8_t outputs[16] = {uint8_t(i & 1)};
        uint8_t inputs[16] = {};
        EXPECT_EQ(KVD4093_SetDeviceDO(handle, outputs), 1);
        EXPECT_EQ(KVD4093_GetDeviceDI(handle, inputs), 1);
    }
    EXPECT_EQ(read.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "the writes' completions did not end the read";
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle), 1);
    const auto [result, got] = read.get();
    EXPECT_EQ(result, 1);
    ASSERT_EQ(got, 5000u);
    // The stop's faster rate serves the read from the running stream, or its
    // restart from scan 0: either way one unbroken run of scans.
    const uint64_t first = samples[0] == SampleStream::sampleAt(Signals::Waveforms, 0, 512) ? 512 : 0;
    for (uint32_t i = 0; i < got; ++i)
        ASSERT_EQ(samples[i], SampleStream::sampleAt(Signals::Waveforms, 0, first + i)) << i;
}

TEST_F(DriverCardTest, DigitalOutputsLoopBackAndDaValuesShowInTheStatus) {
    KVD4093_HANDLE handle = open(1);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    for (const uint16_t lines : {0x0000, 0xA5C3, 0xFFFF, 0x0001}) {
        SCOPED_TRACE(lines);
        uint8_t outputs[16], inputs[16] = {};
        for (int bit = 0; bit < 16; ++bit)
            outputs[bit] = (lines >> bit) & 1;
        ASSERT_EQ(KVD4093_SetDeviceDO(handle, outputs), 1);
        ASSERT_EQ(KVD4093_GetDeviceDI(handle, inputs), 1);
        EXPECT_EQ(std::vector<uint8_t>(inputs, inputs + 16), std::vector<uint8_t>(outputs, outputs + 16));
    }
    ASSERT_EQ(KVD4093_WriteDeviceDA(handle, 0, 2748, 2), 1);
    uint8_t status[protocol::kPacketSize] = {};
    uint32_t returned = 0;
    ASSERT_EQ(BulkRead(handle, protocol::kPipeStatus, status, sizeof status, &returned), 1);
    EXPECT_EQ(returned, protocol::kPacketSize);
    EXPECT_EQ(status[protocol::kStatusPhysicalId], 9);
    EXPECT_EQ(status[vcard::kStatusDaValues + 4] | status[vcard::kStatusDaValues + 5] << 8, 2748);
}

// Cancelling the requests of a driver file ends a read waiting in the
// driver with failure; the file stays usable and closes afterwards.
TEST_F(DriverCardTest, CancelEndsAReadWaitingInTheDriver) {
    DriverFile file(2);
    ASSERT_NE(file.get(), nullptr);
    // One channel at 1 kHz (divider 10000), started.
    ASSERT_NE(file.write(protocol::kPipeAdCommand, {0x02, 0, 0, 0, 0, 0x10, 0x27, 0, 0}), 0);
    ASSERT_NE(file.write(protocol::kPipeAdCommand, {0x03, 1}), 0);
    auto read = std::async(std::launch::async, [&] {
        std::vector<uint8_t> buffer(20000);
        return file.read(protocol::kPipeAdData, buffer.data(), uint32_t(buffer.size()));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(read.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "10 s of samples: it waits";
    DriverFile::backend().cancel(file.get());
    ASSERT_EQ(read.wait_for(std::chrono::seconds(2)), std::future_status::ready) << "the cancel ended the read";
    const auto [result, returned] = read.get();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(returned, 0u);
    EXPECT_NE(file.write(protocol::kPipeAdCommand, {0x03, 0}), 0) << "the file still works: the card stops";
    EXPECT_TRUE(file.close());
}

// One read of 16 MiB at the card's fastest rate (10 MS/s, 0.8 s of samples)
// brings every sample in order, and the next read goes on from there. The
// driver takes such a read off its queue with its range of the stream under
// the card's lock and computes the samples after releasing it; Wine, which
// has no interrupt levels, cannot show at which level they are computed.
TEST_F(DriverCardTest, ALargeReadBringsEverySampleInOrderAndTheNextGoesOn) {
    DriverFile file(1);
    ASSERT_NE(file.get(), nullptr);
    // Channels 0 to 3, divider 0 (one 100 ns tick a sample), started.
    ASSERT_NE(file.write(protocol::kPipeAdCommand, {0x02, 0, 3, 0, 0, 0, 0, 0, 0}), 0);
    ASSERT_NE(file.write(protocol::kPipeAdCommand, {0x03, 1}), 0);
    constexpr uint32_t kSamples = 8u << 20;
    std::vector<uint16_t> samples(kSamples);
    const auto [result, returned] = file.read(protocol::kPipeAdData, samples.data(), 2 * kSamples);
    ASSERT_NE(result, 0);
    ASSERT_EQ(returned, 2 * kSamples);
    for (uint32_t i = 0; i < kSamples; ++i)
        ASSERT_EQ(samples[i], SampleStream::sampleAt(Signals::Waveforms, i % 4, i / 4)) << i;

    std::vector<uint8_t> next(1002, 0xEE); // 1001 bytes: 501 samples, the last one's low byte
    const auto [nextResult, nextReturned] = file.read(protocol::kPipeAdData, next.data(), 1001);
    ASSERT_NE(nextResult, 0);
    ASSERT_EQ(nextReturned, 1001u);
    for (uint32_t k = 0; k < 501; ++k) {
        const uint32_t i = kSamples + k;
        const uint16_t expected = SampleStream::sampleAt(Signals::Waveforms, i % 4, i / 4);
        ASSERT_EQ(next[2 * k], expected & 0xFF) << k;
        if (k < 500) {
            ASSERT_EQ(next[2 * k + 1], expected >> 8) << k;
        }
    }
    EXPECT_EQ(next[1001], 0xEE);
    EXPECT_NE(file.write(protocol::kPipeAdCommand, {0x03, 0}), 0);
}

// The identity requests write their answer at the address the caller gave.
// A kernel address fails with ERROR_NOACCESS, and so, on Windows, does a
// read-only page of the caller's; nothing is written and the card answers
// the next request. On Windows the driver refuses them (the address lies
// above MmUserProbeAddress; the store into the read-only page faults under
// its guard). Under Wine the driver works on a copy of the buffer in its own
// process: Wine fails the kernel address before the request reaches the
// driver, and the read-only page is copied and answered in the copy.
TEST_F(DriverCardTest, IdentityRequestsRefuseBuffersTheCallerCannotWrite) {
    DriverFile file(0);
    ASSERT_NE(file.get(), nullptr);
    const platform::CardBackend &backend = DriverFile::backend();
    auto *kernel = reinterpret_cast<uint8_t *>(uintptr_t(0xFFFF800000001000));
    auto *readOnly = static_cast<uint8_t *>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY));
    ASSERT_NE(readOnly, nullptr);
    for (const uint32_t code : {protocol::kGetCurrentId, protocol::kGetDeviceCount}) {
        SCOPED_TRACE(code);
        uint32_t returned = 77;
        SetLastError(0);
        EXPECT_EQ(backend.request(file.get(), code, kernel, 4, nullptr, 0, &returned), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NOACCESS));
        EXPECT_EQ(returned, 0u);

        SetLastError(0);
        const int32_t result = backend.request(file.get(), code, readOnly, 4, nullptr, 0, &returned);
        if (!underWine()) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(GetLastError(), DWORD(ERROR_NOACCESS));
        }
        EXPECT_EQ(protocol::readLe32(readOnly), 0u);

        uint8_t input[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_NE(backend.request(file.get(), code, input, 4, nullptr, 0, &returned), 0);
        EXPECT_EQ(returned, 4u);
    }
    VirtualFree(readOnly, 0, MEM_RELEASE);
}

// Only the system and administrators may open a card. On Windows the same
// user without the administrators group is refused; Wine keeps no security
// on the files of a device and opens it for any token, so there only the
// administrator's open is shown (the descriptor's own check: device_access_test).
TEST_F(DriverCardTest, OnlyAnAdministratorOpensACard) {
    const Token administrator = impersonationToken(false);
    const Token user = impersonationToken(true);
    ASSERT_TRUE(administrator && user);
    {
        const Impersonation as(administrator.get());
        ASSERT_TRUE(as.active());
        DriverFile file(0);
        EXPECT_NE(file.get(), nullptr) << file.openStatus();
    }
    {
        const Impersonation as(user.get());
        ASSERT_TRUE(as.active());
        DriverFile file(0);
        if (!underWine()) {
            EXPECT_EQ(file.get(), nullptr);
            EXPECT_EQ(file.openStatus(), DWORD(ERROR_ACCESS_DENIED));
        }
    }
}

// Releasing the device while another thread waits in a read ends that read
// with failure instead of leaving it to wait for samples.
TEST_F(DriverCardTest, ReleaseDeviceEndsAReadWaitingInAnotherThread) {
    KVD4093_HANDLE handle = KVD4093_CreateDevice(2);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    std::vector<uint16_t> samples(10000); // 10 s at 1 kHz
    auto read = pendingRead(handle, samples, 1000);
    ASSERT_EQ(read.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_EQ(KVD4093_ReleaseDevice(handle), 1);
    ASSERT_EQ(read.wait_for(std::chrono::seconds(2)), std::future_status::ready) << "the release ended the read";
    EXPECT_EQ(read.get().first, 0);

    KVD4093_HANDLE again = open(2);
    ASSERT_NE(again, KVD4093_INVALID_HANDLE);
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(again), 1) << "leaves the card stopped";
}

// The typical acquisition's trace on the driver and on a virtual card, line
// by line; the identity requests aside, whose answer Wine does not return.
void typicalAcquisition() {
    KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    const uint8_t noOutputs[16] = {}; // the driver's card keeps what earlier tests set
    ASSERT_EQ(KVD4093_SetDeviceDO(handle, noOutputs), 1);
    ADPara para;
    ASSERT_EQ(KVD4093_LoadParaAD(handle, &para), 1);
    para.FirstChannel = 0;
    para.LastChannel = 3;
    para.Frequency = 200000;
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &para), 1);
    std::vector<uint16_t> samples(4096);
    for (int block = 0; block < 4; ++block) {
        uint32_t got = 0;
        ASSERT_EQ(KVD4093_ReadDeviceAD(handle, samples.data(), 4096, &got), 1);
        ASSERT_EQ(got, 4096u);
    }
    uint8_t inputs[16];
    ASSERT_EQ(KVD4093_GetDeviceDI(handle, inputs), 1);
    ASSERT_EQ(KVD4093_ReleaseDeviceAD(handle), 1);
    ASSERT_EQ(KVD4093_ReleaseDevice(handle), 1);
}

std::vector<std::string> tracedWithoutIdentity(const std::string &path) {
    EXPECT_TRUE(trace::traceTo(path.c_str()));
    typicalAcquisition();
    trace::traceTo(nullptr);
    std::vector<std::string> lines;
    for (const std::string &line : linesOf(readWholeFile(path)))
        if (line.find("GET_CURRENT_ID") == std::string::npos && line.find("GET_DEVICE_COUNT") == std::string::npos)
            lines.push_back(line);
    return lines;
}

TEST_F(DriverCardTest, TypicalAcquisitionTracesAsOnAVirtualCard) {
    TempDir dir;
    const std::vector<std::string> driver = tracedWithoutIdentity(dir.file("driver.txt"));
    vcard::install({7, 9, 5}, {true, Signals::Waveforms, {}});
    const std::vector<std::string> onVirtualCard = tracedWithoutIdentity(dir.file("virtual.txt"));
    vcard::uninstall();
    ASSERT_GT(driver.size(), 10u);
    EXPECT_EQ(driver, onVirtualCard);
    EXPECT_NE(readWholeFile(dir.file("driver.txt")).find("card=0 GET_CURRENT_ID len=4"), std::string::npos);
}

} // namespace
} // namespace kvd::testing
