#include "panel/card_controller.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "card/ad_fields.h"
#include "card/digital_io.h"
#include "card/logged_names.h"
#include "common/errors.h"
#include "common/system.h"
#include "facts/card_limits.h"
#include "facts/channel_count.h"
#include "facts/scan_rate.h"
#include "facts/virtual_card_ids.h"

namespace kvd::tool::panel {
namespace {

using namespace std::chrono_literals;

// The thread wakes this often: at most 30 frames a second.
constexpr auto kTick = 34ms;
// Every third tick (10 a second): digital inputs, the log, the trace, the recording's count.
constexpr uint64_t kSlowTicks = 3;
// Every fifteenth (2 a second): the DA values the card reports.
constexpr uint64_t kDaTicks = 15;
constexpr size_t kLogEntriesKept = 200;

std::string backendName() {
    if (const char *cards = std::getenv(facts::kVirtualCardsVariable); cards && *cards)
        return "virtual";
#if defined(_WIN32)
    return "Windows driver";
#else
    return "USB";
#endif
}

// The name under which a failed call logged, from its message
// ("... failed: message[KVD4093_CreateDevice] (English)"); a card choice
// that failed logged under the open call, whatever the message says of it.
std::string loggedName(const std::string &failure, const Command &command) {
    for (const char *name : kLoggedNames)
        if (failure.find(std::string(1, '[').append(name).append("]")) != std::string::npos)
            return name;
    return std::holds_alternative<command::SelectCard>(command) ? "KVD4093_CreateDevice" : "";
}

ADPara loadRecord(KVD4093_HANDLE card) {
    ADPara record{};
    if (!KVD4093_LoadParaAD(card, &record))
        failCall("KVD4093_LoadParaAD");
    return record;
}

} // namespace

CardController::CardController(const std::vector<CardChoice> &choices) : trace_(std::getenv("KVD4093_TRACE")) {
    state_.backend = backendName();
    state_.traceOn = trace_.on();
    const CardChoice &choice = choices.front();
    for (size_t i = 1; i < choices.size(); ++i)
        groupOthers_.push_back(std::make_unique<OpenCard>(choices[i]));
    try {
        card_ = std::make_unique<OpenCard>(choice);
    } catch (const CallFailed &failure) {
        if (choice.given)
            throw;
        std::fprintf(stderr, "kvd4093: no card 0 (%s); choose one in the panel\n", failure.what());
    }
    if (card_) {
        state_.card = describeOpenCard(card_->handle(), card_->logicalNumber());
        state_.record = loadRecord(card_->handle());
    }
    state_.group = groupCards();
    state_.sampleRate = cardSampleRate(state_.record);
    listCards();
}

std::vector<GroupCard> CardController::groupCards() const {
    std::vector<GroupCard> group;
    if (groupOthers_.empty() || !card_)
        return group;
    group.push_back({card_->logicalNumber(), card_->physicalId()});
    for (const auto &card : groupOthers_)
        group.push_back({card->logicalNumber(), card->physicalId()});
    return group;
}

CardController::~CardController() { shutdown(); }

void CardController::start(WebServer &server) {
    server_ = &server;
    thread_ = std::thread([this] { loop(); });
}

void CardController::shutdown() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
    // Also when the thread never ran: the card is stopped and closed here.
    try {
        stopRun();
    } catch (const CallFailed &failure) {
        std::fprintf(stderr, "kvd4093: %s\n", failure.what());
    }
    card_.reset();
    groupOthers_.clear();
}

void CardController::connected(ClientId client) { post({client, Hello{}}); }

void CardController::received(ClientId client, std::string_view text) {
    ParsedCommand parsed = parseCommand(text);
    if (parsed.command)
        post({client, std::move(*parsed.command)});
    else
        post({client, Refusal{parsed.refusal}});
}

void CardController::post(Pending pending) {
    {
        const std::lock_guard lock(mutex_);
        pending_.push_back(std::move(pending));
    }
    wake_.notify_one();
}

void CardController::loop() {
    auto nextTick = std::chrono::steady_clock::now();
    for (uint64_t ticks = 0;;) {
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, nextTick, [&] { return stopping_ || !pending_.empty(); });
        if (stopping_)
            return;
        std::deque<Pending> work;
        work.swap(pending_);
        lock.unlock();
        for (const Pending &pending : work)
            handle(pending);
        if (std::chrono::steady_clock::now() >= nextTick) {
            tick(ticks++);
            nextTick = std::chrono::steady_clock::now() + kTick;
        }
        if (!work.empty())
            broadcastState();
    }
}

void CardController::handle(const Pending &pending) {
    if (std::holds_alternative<Hello>(pending.what)) {
        server_->sendText(pending.client, helloMessage(log_, trace_.recent(), trace_.on()));
        server_->sendText(pending.client, stateMessage(state_));
        return;
    }
    if (const auto *refusal = std::get_if<Refusal>(&pending.what)) {
        server_->sendText(pending.client, errorMessage("refused: " + refusal->reason));
        return;
    }
    std::string failed;
    try {
        handleCommand(std::get<Command>(pending.what));
    } catch (const CallFailed &error) {
        failed = loggedName(error.what(), std::get<Command>(pending.what));
        server_->sendText(pending.client, errorMessage(error.what()));
    } catch (const std::runtime_error &error) { // UsageError, ToolError
        server_->sendText(pending.client, errorMessage(error.what()));
    }
    reportLog(failed);
}

void CardController::handleCommand(const Command &command) {
    std::visit(
        [&](const auto &c) {
            using C = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<C, command::ListCards>) {
                listCards();
            } else if constexpr (std::is_same_v<C, command::SelectCard>) {
                selectCard(c.number);
            } else if constexpr (std::is_same_v<C, command::SetRecord>) {
                ADPara record = state_.record;
                for (const auto &[member, value] : c.fields)
                    record.*member = value;
                changeRecord(record);
            } else if constexpr (std::is_same_v<C, command::SetRate>) {
                ADPara record = state_.record;
                const int32_t channels = facts::channelCount(record.FirstChannel, record.LastChannel);
                const std::optional<int32_t> frequency =
                    facts::frequencyForScans(double(c.rate), c.perScan ? std::max(channels, 1) : 1);
                if (!frequency)
                    throw UsageError(std::to_string(c.rate) + " scans a second x " + std::to_string(channels) +
                                     " channels is above " + std::to_string(facts::kTimeBaseHz) + " samples a second");
                record.Frequency = *frequency;
                changeRecord(record);
            } else if constexpr (std::is_same_v<C, command::Start>) {
                if (!run_)
                    startRun();
            } else if constexpr (std::is_same_v<C, command::Stop>) {
                stopRun();
            } else if constexpr (std::is_same_v<C, command::Settings>) {
                settings(c.action);
            } else if constexpr (std::is_same_v<C, command::SetDigitalOutputs>) {
                if (run_)
                    run_->setDO(c.word);
                else
                    setDigitalOutputs(openCard().handle(), c.word);
                state_.digitalOutputs = c.word;
                readInputs();
            } else if constexpr (std::is_same_v<C, command::WriteDa>) {
                if (run_)
                    run_->writeDA(c.setup, c.value, c.channel);
                else if (!KVD4093_WriteDeviceDA(openCard().handle(), c.setup, c.value, c.channel))
                    failCall("KVD4093_WriteDeviceDA");
                state_.daWritten[size_t(c.channel)] = c.value;
                readDaValues();
            } else if constexpr (std::is_same_v<C, command::SetTriggerLevel>) {
                if (!KVD4093_SetDeviceTrigLevel(openCard().handle(), c.level))
                    failCall("KVD4093_SetDeviceTrigLevel");
                state_.triggerLevel = c.level;
            } else if constexpr (std::is_same_v<C, command::Record>) {
                startRecording(c);
            } else if constexpr (std::is_same_v<C, command::StopRecording>) {
                recording_.stop();
                state_.recording = recording_.status();
            } else if constexpr (std::is_same_v<C, command::SetView>) {
                state_.viewSeconds = c.seconds;
                if (frames_) {
                    frames_->setViewSeconds(c.seconds);
                    state_.scansPerColumn = frames_->scansPerColumn();
                }
            }
        },
        command);
}

OpenCard &CardController::openCard() {
    if (!card_)
        throw UsageError("no card is open: choose one");
    return *card_;
}

// Every number but the panel's own card is opened and closed again; the
// entries of the numbers without a card are not shown as new in the log.
void CardController::listCards() {
    state_.cards.clear();
    for (int32_t n = 0; n < kLogicalNumbers; ++n) {
        if (state_.card && state_.card->number == n)
            state_.cards.push_back(*state_.card);
        else if (const std::optional<CardProbe> probe = probeCard(n))
            state_.cards.push_back(*probe);
    }
    logWatch_.markSeen();
}

// The new card is opened first: when it does not open, the old one stays.
void CardController::selectCard(int32_t number) {
    CardChoice choice;
    choice.given = true;
    choice.number = number;
    auto card = std::make_unique<OpenCard>(choice);
    stopRun();
    card_ = std::move(card);
    groupOthers_.clear(); // the page chooses one card: the group ends
    state_.group.clear();
    state_.daWritten = {};
    state_.daReported.reset();
    state_.digitalInputs.reset();
    state_.digitalOutputs = 0;
    state_.triggerLevel.reset();
    state_.card = describeOpenCard(card_->handle(), card_->logicalNumber());
    state_.record = loadRecord(card_->handle());
    state_.sampleRate = cardSampleRate(state_.record);
    readInputs();
}

// A running acquisition starts again with the new record: the chart's new
// run and the trace show the new set-up.
void CardController::changeRecord(const ADPara &record) {
    const bool wasRunning = run_ != nullptr;
    if (wasRunning)
        checkAcquisitionRecord(record);
    stopRun();
    state_.record = record;
    if (record.Frequency >= 1)
        state_.sampleRate = cardSampleRate(record);
    if (wasRunning)
        startRun();
}

void CardController::startRun() {
    OpenCard &card = openCard();
    AcquisitionInfo info;
    info.para = state_.record;
    checkAcquisitionRecord(info.para);
    info.logicalNumber = card.logicalNumber();
    info.physicalId = card.physicalId();
    info.groupCards = groupCards();
    info.sampleRate = cardSampleRate(info.para);
    info.continuous = true;
    info.startTime = utcTimestamp();
    frames_ = std::make_unique<ChartFrames>(++state_.run, state_.viewSeconds);
    std::vector<KVD4093_STREAM_CARD> cards{{.device = card.handle(), .physicalId = card.physicalId(), .reserved = 0}};
    for (const auto &other : groupOthers_)
        cards.push_back({.device = other->handle(), .physicalId = other->physicalId(), .reserved = 0});
    run_ = std::make_unique<AcquisitionRun>(cards, info, *frames_, recording_);
    state_.stream = {};
    state_.running = true;
    state_.sampleRate = info.sampleRate;
    state_.scansPerColumn = scansPerColumnFor(info.scanRate(), state_.viewSeconds, info.channelCount());
}

void CardController::stopRun() {
    if (!run_)
        return;
    const std::optional<std::string> failure = run_->stop();
    state_.stream = run_->figures();
    run_.reset();
    state_.running = false;
    state_.recording = recording_.status();
    if (failure)
        throw CallFailed(*failure);
}

void CardController::settings(command::Settings::Action action) {
    const KVD4093_HANDLE card = openCard().handle();
    ADPara record = state_.record;
    switch (action) {
    case command::Settings::Action::Load:
        record = loadRecord(card);
        break;
    case command::Settings::Action::Save:
        if (!KVD4093_SaveParaAD(card, &record))
            failCall("KVD4093_SaveParaAD");
        return;
    case command::Settings::Action::Reset:
        if (!KVD4093_ResetParaAD(card, &record))
            failCall("KVD4093_ResetParaAD");
        break;
    }
    changeRecord(record);
}

void CardController::startRecording(const command::Record &record) {
    if (!run_) {
        Recording::checkFileName(record.file, record.seconds ? 1 : 0);
        throw UsageError("start the acquisition first: a recording writes what it acquires");
    }
    uint64_t planned = 0;
    if (record.seconds)
        planned = uint64_t(std::max(1.0, std::round(*record.seconds * run_->info().scanRate())));
    recording_.start(record.file, planned);
    state_.recording = recording_.status();
}

void CardController::readInputs() {
    if (!card_)
        return;
    try {
        state_.digitalInputs = readDigitalInputs(run_ ? run_->card() : card_->handle());
    } catch (const CallFailed &) {
        state_.digitalInputs.reset(); // shown as unknown; the call logs nothing
    }
}

void CardController::readDaValues() {
    if (!card_)
        return;
    try {
        state_.daReported = readReportedDaValues(run_ ? run_->card() : card_->handle());
    } catch (const CallFailed &) {
        state_.daReported.reset();
    }
}

void CardController::sendFrame() {
    if (frames_ && frames_->takeFrame(frame_))
        server_->broadcastBinary(frame_);
}

// A run that ended by itself: a failed set-up or read, or a stop signal.
void CardController::noticeEndedRun() {
    if (!run_ || run_->reading())
        return;
    const std::optional<std::string> failure = run_->failure();
    try {
        stopRun();
    } catch (const CallFailed &error) {
        server_->broadcastText(errorMessage(error.what()));
    }
    if (failure)
        server_->broadcastText(errorMessage(*failure));
}

void CardController::tick(uint64_t count) {
    sendFrame();
    noticeEndedRun();
    if (count % kSlowTicks == 0) {
        readInputs();
        state_.recording = recording_.status();
        if (run_)
            state_.stream = run_->figures();
        reportLog();
        if (std::vector<std::string> lines = trace_.newLines(); !lines.empty()) {
            if (lines.size() > kTraceLinesKept)
                lines.erase(lines.begin(), lines.end() - kTraceLinesKept);
            server_->broadcastText(traceMessage(lines));
        }
    }
    if (count % kDaTicks == 0)
        readDaValues();
    broadcastState();
}

void CardController::broadcastState() {
    std::string message = stateMessage(state_);
    if (message == lastState_)
        return;
    lastState_ = std::move(message);
    server_->broadcastText(lastState_);
}

void CardController::reportLog(const std::string &failed) {
    const std::vector<LogEntry> entries = logWatch_.newEntries(failed);
    if (entries.empty())
        return;
    for (const LogEntry &entry : entries) {
        log_.push_back(entry);
        if (log_.size() > kLogEntriesKept)
            log_.pop_front();
    }
    server_->broadcastText(logMessage(entries));
}

} // namespace kvd::tool::panel
