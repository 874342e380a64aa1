// The virtual card: a software stand-in for the card's driver and firmware,
// selected like any other card backend.
//
// Processes select it with KVD4093_VIRTUAL_CARDS=7,9,5 (physical IDs in
// logical order). Tests and tools use this C++ control interface instead: put
// cards in place, look at every request a card received, make requests fail,
// hold AD reads, shorten answers and set status bytes. The control interface
// is linked statically; the shared library does not export it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "card_model/firmware.h" // kVersion, kStatusDaValues, Signals, Noise

namespace kvd::vcard {

// "off" delivers samples at once instead of at the configured rate.
constexpr char kPacingVariable[] = "KVD4093_VIRTUAL_PACING";
// "amplitude[,seed]": seeded noise of that many codes added to the waveforms.
constexpr char kNoiseVariable[] = "KVD4093_VIRTUAL_NOISE";
// The samples a paced card's memory holds (Behaviour::memorySamples); 0: no limit.
constexpr char kMemoryVariable[] = "KVD4093_VIRTUAL_MEMORY";
// A paced card holds this many samples unless told otherwise: 64 Ki samples
// (128 KiB), the FIFO of a typical USB acquisition card of this class.
constexpr uint64_t kDefaultMemorySamples = 65536;

// One driver request as a card received it. Requests are listed in the order
// they reached the card; one still inside the card (a held or waiting AD
// read) shows returned 0 and result 0 until it completes.
struct Request {
    uint32_t code = 0;              // driver request code
    int32_t pipe = -1;              // pipe number for bulk requests, else -1
    std::vector<uint8_t> sent;      // bytes sent: bulk-write data, interface bytes
    uint32_t asked = 0;             // bytes asked for: the data (output) length of a
                                    // bulk request, the input length of the others
    uint32_t returned = 0;          // bytes reported back
    int32_t result = 0;             // the truth value the request returned
};

// Matches requests for the failure and shortening rules: a request code and,
// for bulk requests, optionally one pipe.
struct RequestMatch {
    uint32_t code = 0;
    int32_t pipe = -1; // -1: any pipe
};

// How a card acquires. Installed from the control interface a card delivers
// at once and counts (exact, fast tests); selected by the environment it is
// paced by the clock and carries waveforms, as an instrument would.
struct Behaviour {
    // Paced: a read on pipe 2 blocks until its samples exist, the samples owed
    // being the time since the start times the rate the period divider gives
    // (10 MHz / divider, samples of all channels together).
    bool paced = false;
    Signals signals = Signals::Counting;
    Noise noise;
    // Lists every request (Card::requests). Cards of the environment do not,
    // so that a long run neither grows nor allocates per request.
    bool recording = true;
    // A paced card's own memory, in samples (0: no limit). Samples wait there
    // between reads; a read that comes so late that more were converted than
    // it holds finds the oldest lost, in whole scans, and the samples go on
    // from the oldest still held, so the loss shows as a jump in the
    // waveforms (Card::samplesLost counts them). A read waiting in the card
    // drains it as the samples come: only the time between reads fills it.
    uint64_t memorySamples = kDefaultMemorySamples;
    // How far the card's own clock is off, in parts per million: a paced card
    // on its own clock converts at the divider's rate times (1 + ppm x 1e-6),
    // so cards on their own clocks drift apart as crystals do. Unset:
    // defaultClockOffsetPpm of the physical ID. Clamped to +-100 000.
    std::optional<int32_t> clockOffsetPpm = std::nullopt;
};

// A card's clock offset unless its Behaviour sets one: -50 to +50 ppm, a
// crystal's usual tolerance, ((37 x ID) mod 101) - 50, so that two cards
// whose IDs differ by less than 101 never run at the same rate.
constexpr int32_t defaultClockOffsetPpm(uint8_t physicalId) { return int32_t(37u * physicalId % 101u) - 50; }

// One virtual card. Cards live from install() until the next install() or
// uninstall(); references stay valid that long. Every member is thread-safe.
class Card {
public:
    virtual ~Card() = default;

    virtual int32_t logicalNumber() const = 0;
    virtual uint8_t physicalId() const = 0;

    // Every request this card received since install() or clearRequests(), in order.
    virtual std::vector<Request> requests() const = 0;
    virtual void clearRequests() = 0;
    // Listing is on from install(); off, requests are neither listed nor
    // copied, so long runs (benchmarks) neither allocate nor grow.
    virtual void setRecording(bool on) = 0;

    // Makes the nth matching request from now fail (n counted from 1), or
    // every matching request when n is 0. A failed request changes no state,
    // writes nothing into the caller's buffers and reports 0 bytes.
    virtual void failRequest(RequestMatch match, uint32_t nth) = 0;
    // Makes every matching request return `result` instead of 1 (for
    // example a nonzero value other than 1); 1 restores the default. The
    // latest rule set for a match replaces an earlier one for the same match.
    virtual void setRequestResult(RequestMatch match, int32_t result) = 0;
    // Caps the bytes reported for matching requests at maxBytes (the request
    // still succeeds). A read delivers only the bytes it reports; a write
    // still hands its whole packet to the card.
    virtual void shortenReturns(RequestMatch match, uint32_t maxBytes) = 0;
    // Removes every failure, result and shortening rule.
    virtual void clearRules() = 0;

    // While held, AD data reads (pipe 2) block inside the card until released.
    // Only releaseReads() lets a held read go on: a stop packet does not. A
    // released read then goes on as any read: it delivers samples while an
    // acquisition runs, else waits for a start.
    virtual void holdReads() = 0;
    virtual void releaseReads() = 0;
    // While set, a held read ignores cancels, as a driver would that never
    // ends a request: only releaseReads() or the card going away lets it go.
    virtual void ignoreCancels(bool ignore) = 0;
    // Waits until at least one read is blocked in the card; false on timeout.
    virtual bool waitForHeldRead(uint32_t timeoutMs) = 0;
    // Waits until a paced read is waiting in the card for its samples; false on timeout.
    virtual bool waitForPacedRead(uint32_t timeoutMs) = 0;

    // While an acquisition runs, pipe 2 delivers scans of the channels
    // FirstChannel to LastChannel of the configuration packet, each sample
    // least significant byte first, with the signals of the card's Behaviour
    // (sample_stream.h). When LastChannel is below FirstChannel each scan
    // holds FirstChannel alone.
    // A read returns every byte it asks for at once; an odd count ends with
    // the low byte of a sample, and the next read goes on with the sample after it.

    // Overrides one byte of the status packet (pipe 3). Bytes 0 and 1 show
    // the DO lines looped back until they are overridden.
    virtual void setStatusByte(uint32_t index, uint8_t value) = 0;
    // Changes how the card acquires from its next start on.
    virtual void setBehaviour(const Behaviour &behaviour) = 0;

    // Makes closing this card's driver files fail (or succeed again).
    virtual void failClose(bool fail) = 0;
    // How long a read on pipe 2 waits for an acquisition to start before it
    // fails (200 ms unless set).
    virtual void setStartWait(uint32_t milliseconds) = 0;

    // Samples the card's memory lost since the last start (Behaviour::memorySamples).
    virtual uint64_t samplesLost() const = 0;
    // The offset of the card's own clock in ppm (Behaviour::clockOffsetPpm).
    virtual int32_t clockOffsetPpm() const = 0;

    // The shared clock. The cards put in place by one install() (or listed in
    // KVD4093_VIRTUAL_CARDS) are wired together: one clock line joins their
    // clock connectors. The mode byte of the configuration packet (byte 3)
    // carries the two codes, which take effect at the start packet:
    //  - bClockOutput 1 (bit 7): while the card converts on its own clock it
    //    drives the line, one tick per scan. A paced card ticks at its scan
    //    rate, offset by its ppm; an unpaced one ticks once per whole scan read.
    //  - ClockSource 1 (bit 6): a paced card converts one scan per tick of
    //    the line since its own start, whatever its divider, and none while no
    //    card drives the line; a read waits for its ticks (a stop, a cancel or
    //    the stop's fast restart on the card's own clock ends it). An unpaced
    //    card delivers at once on any clock.
    //    A card started after the driver misses the ticks before its start.
    //  - ClockSource 0: the card's own clock.

    // The card's state as the command packets left it.
    virtual bool running() const = 0;
    virtual uint16_t doLines() const = 0;
    virtual uint8_t triggerLevel() const = 0;
    // The last DA value word (12 bits) written to a channel, -1 if none.
    virtual int32_t daValue(uint32_t channel) const = 0;
    // Driver files of this card that are open now.
    virtual int32_t openFiles() const = 0;
};

// Puts virtual cards in place, one per physical ID, at logical numbers 0, 1, ...
// and makes the virtual backend the process's card backend. Replaces any
// cards installed before. An empty list installs the backend with no card.
// Driver files still open on replaced cards stay safe to use: their requests
// fail (the card is gone) and closing them frees them. A read blocked in a
// replaced card fails at once.
void install(const std::vector<uint8_t> &physicalIds, const Behaviour &behaviour = {});
// Removes the cards and goes back to the backend selection by environment
// (whose cards, if it lists any, are put in place afresh).
void uninstall();

// The card at a logical number; the number must be below cardCount()
// (std::out_of_range otherwise).
Card &card(int32_t logicalNumber);
int32_t cardCount();

// The virtual backend's ops table. Opening a logical number that has no card
// fails with status 2 (no such member).
const platform::CardBackend &backend();

// The virtual backend when KVD4093_VIRTUAL_CARDS (facts/virtual_card_ids.h) lists cards (installing
// them on first use), else nullptr. A malformed value lists none and says
// why once on standard error.
const platform::CardBackend *backendFromEnvironment();

} // namespace kvd::vcard
