// The CSV writer's text: lines of 4 channels formatted into the writer's
// block buffer and written to /dev/null, as the tool does for each block of
// an unpaced acquisition; items are samples. The aim is 100 million samples
// a second. BM_CsvThroughToChars is the same text through std::to_chars and
// string appends, the way it was made before, for comparison.
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "../tools/kvd4093/output/csv_text.h"

namespace {

namespace csv = kvd::tool::csv;

constexpr uint32_t kChannels = 4;
constexpr size_t kBlockScans = (1u << 19) / kChannels; // the tool's largest block
constexpr double kScanRate = 2500000;                  // 10 M samples a second over 4 channels

std::vector<uint16_t> waveform() {
    std::vector<uint16_t> samples(kBlockScans * kChannels);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint16_t>(i * 7919 % 65536);
    return samples;
}

struct NullFile {
    NullFile() : file(std::fopen("/dev/null", "wb")) {}
    ~NullFile() { std::fclose(file); }
    std::FILE *file;
};

void BM_CsvLines(benchmark::State &state) {
    const std::vector<uint16_t> samples = waveform();
    // Room for lines up to scan 2^40, beyond what the iterations reach.
    std::vector<char> text(kBlockScans * csv::lineBound(uint64_t(1) << 40, kScanRate, kChannels, 5));
    NullFile out;
    uint64_t firstScan = 0;
    for (auto _ : state) {
        const char *end = csv::putScans(text.data(), samples.data(), firstScan, kBlockScans, kChannels, kScanRate);
        std::fwrite(text.data(), 1, size_t(end - text.data()), out.file);
        firstScan += kBlockScans;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(samples.size()));
}

template <typename Number> void appendNumber(std::string &text, Number value) {
    char digits[32];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void BM_CsvThroughToChars(benchmark::State &state) {
    const std::vector<uint16_t> samples = waveform();
    std::string text;
    NullFile out;
    uint64_t firstScan = 0;
    for (auto _ : state) {
        text.clear();
        for (size_t scan = 0; scan < kBlockScans; ++scan) {
            const uint64_t number = firstScan + scan;
            appendNumber(text, number);
            text += ',';
            char digits[48];
            text.append(digits, std::to_chars(digits, digits + sizeof digits, double(number) / kScanRate,
                                              std::chars_format::fixed, csv::kTimeDecimals)
                                    .ptr);
            for (uint32_t channel = 0; channel < kChannels; ++channel) {
                text += ',';
                appendNumber(text, samples[scan * kChannels + channel]);
            }
            text += '\n';
        }
        std::fwrite(text.data(), 1, text.size(), out.file);
        firstScan += kBlockScans;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(samples.size()));
}

BENCHMARK(BM_CsvLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvThroughToChars)->Unit(benchmark::kMillisecond);

} // namespace
