#include "acquisition/sync_check.h"

#include <cmath>

#include "common/errors.h"

namespace kvd::tool {
namespace {

std::vector<double> withoutMean(std::vector<double> values) {
    double sum = 0;
    for (double value : values)
        sum += value;
    const double mean = values.empty() ? 0 : sum / double(values.size());
    for (double &value : values)
        value -= mean;
    return values;
}

// The correlation of reference[k] with signal[k + lag] over their overlap,
// normalised by the overlap's energy so that short overlaps do not win.
double correlationAt(const std::vector<double> &reference, const std::vector<double> &signal, int64_t lag) {
    const auto length = int64_t(std::min(reference.size(), signal.size()));
    double product = 0, referenceEnergy = 0, signalEnergy = 0;
    for (int64_t k = std::max<int64_t>(0, -lag); k < length && k + lag < length; ++k) {
        product += reference[size_t(k)] * signal[size_t(k + lag)];
        referenceEnergy += reference[size_t(k)] * reference[size_t(k)];
        signalEnergy += signal[size_t(k + lag)] * signal[size_t(k + lag)];
    }
    const double energy = std::sqrt(referenceEnergy * signalEnergy);
    return energy > 0 ? product / energy : 0;
}

} // namespace

int64_t lagBehind(const std::vector<double> &reference, const std::vector<double> &signal) {
    const std::vector<double> a = withoutMean(reference), b = withoutMean(signal);
    const auto most = int64_t(std::min(a.size(), b.size()) / 4);
    int64_t best = 0;
    double bestCorrelation = correlationAt(a, b, 0);
    for (int64_t lag = 1; lag <= most; ++lag)
        for (const int64_t candidate : {lag, -lag}) {
            const double correlation = correlationAt(a, b, candidate);
            if (correlation > bestCorrelation + 1e-9) {
                bestCorrelation = correlation;
                best = candidate;
            }
        }
    // Scan k of the reference shows as scan k + lag of the signal: the
    // signal took it later, so its card is behind by -lag.
    return -best;
}

void SyncCheck::begin(const AcquisitionInfo &info) {
    info_ = info;
    if (info.groupCards.size() < 2)
        throw UsageError("--check-sync needs a group: give two cards or more to --card or --id");
    if (channel_ < info.firstChannel() || channel_ > info.lastChannel())
        throw UsageError("--check-sync " + std::to_string(channel_) + " is not one of the channels acquired (" +
                         std::to_string(info.firstChannel()) + "-" + std::to_string(info.lastChannel()) + ")");
    kept_.assign(info.cardCount(), {});
}

void SyncCheck::write(const uint16_t *samples, uint64_t firstScan, size_t scans) {
    if (firstScan != nextScan_)
        broken_ = kept_.front().size() < kKeptScans;
    nextScan_ = firstScan + scans;
    const uint32_t width = info_.channelCount();
    const auto offset = uint32_t(channel_ - info_.firstChannel());
    for (size_t scan = 0; scan < scans && kept_.front().size() < kKeptScans; ++scan)
        for (uint32_t card = 0; card < info_.cardCount(); ++card)
            kept_[card].push_back(
                double(sampleValue(samples[scan * width + card * info_.channelsPerCard() + offset])));
}

std::vector<int64_t> SyncCheck::lags() const {
    std::vector<int64_t> lags(kept_.size(), 0);
    for (size_t card = 1; card < kept_.size(); ++card)
        lags[card] = lagBehind(kept_.front(), kept_[card]);
    return lags;
}

std::string SyncCheck::report() const {
    if (broken_ || kept_.empty() || kept_.front().size() < 16)
        throw ToolError("--check-sync: too few scans without a gap to compare the cards");
    const std::vector<int64_t> lag = lags();
    const std::string first = "ID" + std::to_string(info_.groupCards.front().physicalId);
    std::string text;
    for (size_t card = 1; card < lag.size(); ++card) {
        const std::string name = "ID" + std::to_string(info_.groupCards[card].physicalId);
        if (lag[card] == 0)
            text += name + ": 0 scans: aligned\n";
        else
            text += name + ": " + std::to_string(std::llabs(lag[card])) + " scans " +
                    (lag[card] > 0 ? "behind " : "ahead of ") + first + ": the clock is not shared\n";
    }
    return text;
}

} // namespace kvd::tool
