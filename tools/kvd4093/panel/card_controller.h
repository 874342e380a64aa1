// The card and everything the panel does with it, on one thread of its own:
// the tabs' commands run there one after the other, and between them the
// periodic work: the chart's frames (at most 30 a second), the digital
// inputs (10 a second), the DA values the card reports, the error log's new
// entries and the trace's new lines. Only the acquisition runs on threads
// of its own (AcquisitionRun, on the stream library). After every change the whole state goes
// to every tab, so all of them show the same.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "card/card.h"
#include "panel/acquisition_run.h"
#include "panel/chart_frames.h"
#include "panel/log_watch.h"
#include "panel/panel_commands.h"
#include "panel/panel_state.h"
#include "panel/recording.h"
#include "panel/trace_tail.h"
#include "panel/web_server.h"

namespace kvd::tool::panel {

class CardController {
public:
    // Opens the chosen card; without a choice card 0, if there is one. More
    // than one choice open a group: the first card is the panel's card (its
    // settings, outputs and inputs), and every acquisition runs on all of
    // them on the first card's clock. Throws CallFailed when a chosen card
    // does not open.
    explicit CardController(const std::vector<CardChoice> &choices);
    ~CardController();
    CardController(const CardController &) = delete;
    CardController &operator=(const CardController &) = delete;

    // Starts the card thread, which talks to the tabs through `server`.
    void start(WebServer &server);
    // Stops the acquisition as `acquire` does, finishes a recording, closes
    // the card and ends the thread. The server must outlive this call.
    void shutdown();

    // From the server's threads.
    void connected(ClientId client);
    void received(ClientId client, std::string_view text);

private:
    struct Hello {};
    struct Refusal {
        std::string reason;
    };
    struct Pending {
        ClientId client;
        std::variant<Hello, Command, Refusal> what;
    };

    void loop();
    void post(Pending pending);
    void handle(const Pending &pending);
    void handleCommand(const Command &command);
    void tick(uint64_t count);
    void broadcastState();
    void reportLog(const std::string &failed = {});

    // The commands.
    void listCards();
    void selectCard(int32_t number);
    void changeRecord(const ADPara &record);
    void startRun();
    void stopRun();
    void settings(command::Settings::Action action);
    void startRecording(const command::Record &record);
    OpenCard &openCard();
    std::vector<GroupCard> groupCards() const;

    // Periodic reads.
    void readInputs();
    void readDaValues();
    void sendFrame();
    void noticeEndedRun();

    // Kept on the card thread only.
    TraceTail trace_;
    std::unique_ptr<OpenCard> card_;
    std::vector<std::unique_ptr<OpenCard>> groupOthers_; // the group's cards after card_; none for one card
    PanelState state_;
    std::unique_ptr<ChartFrames> frames_;
    std::unique_ptr<AcquisitionRun> run_;
    Recording recording_;
    LogWatch logWatch_;
    std::deque<LogEntry> log_;
    std::string lastState_;
    std::vector<uint8_t> frame_;
    WebServer *server_ = nullptr;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Pending> pending_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace kvd::tool::panel
