// kvd4093-usb-sim: runs a program with emulated KVD4093 cards on USB.
//
//   kvd4093-usb-sim [--ids 7,9,5] [--deny 0,2] [FAULTS] -- COMMAND [ARGS...]
//
// The cards are virtual cards (the same model as KVD4093_VIRTUAL_CARDS) put
// behind emulated USB devices in a umockdev test bed; COMMAND runs with
// umockdev's preload library, so libusb, and the library's USB backend with
// it, find them as if they were plugged in. COMMAND's exit status is passed back.
// The faults are those a program meets on a real card: the cards are pulled
// out, replugged, halt a pipe, convert slowly or stay silent for a while.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "card_descriptors.h"
#include "card_link.h"
#include "platform/virtual/card_registry.h"
#include "platform/virtual/virtual_card.h"
#include "facts/virtual_card_ids.h"
#include "usb_testbed.h"

namespace {

using namespace kvd;

constexpr int kUsageStatus = 2;
constexpr uid_t kNobody = 65534;

const char kUsage[] =
    "Usage: kvd4093-usb-sim [--ids IDS] [--deny NUMBERS] [FAULTS] -- COMMAND [ARGS...]\n"
    "\n"
    "Runs COMMAND with emulated KVD4093 cards on USB (umockdev), found by libusb\n"
    "as if they were plugged in, and passes its exit status back.\n"
    "\n"
    "  --ids IDS        the cards' physical IDs in logical order, e.g. 7,9,5 (default 0)\n"
    "  --deny NUMBERS   take the permissions from these cards' device files (logical\n"
    "                   numbers, e.g. 0,2); run as root, COMMAND then runs as user nobody\n"
    "\n"
    "Faults of every card, timed from COMMAND's start (DURATION: 500ms, 2s, 1.5):\n"
    "  --unplug-after DURATION  pull the cards out\n"
    "  --replug-after DURATION  plug them in again, at new addresses (pulled out first\n"
    "                           if they are still in); with --unplug-every, that long\n"
    "                           after each unplug\n"
    "  --unplug-every DURATION  pull the cards out every DURATION, again and again\n"
    "  --replug-as IDS          replug cards with these physical IDs instead, in the\n"
    "                           order of --ids\n"
    "  --only NUMBERS           pull out and replug only these cards (logical\n"
    "                           numbers, e.g. 1); the others stay in\n"
    "  --stall PIPE             the pipe's endpoint halts until the program clears it\n"
    "  --slow FACTOR            the cards convert FACTOR times slower than asked\n"
    "  --nak DURATION           the cards answer nothing for that long\n"
    "\n"
    "COMMAND sees KVD4093_USB_IDS set to the cards' pair and KVD4093_VIRTUAL_CARDS\n"
    "unset. KVD4093_VIRTUAL_PACING and KVD4093_VIRTUAL_NOISE act as for virtual cards.\n";

using Duration = std::chrono::milliseconds;

struct Options {
    std::vector<uint8_t> ids{0};
    std::vector<uint8_t> denied;
    std::optional<Duration> unplugAfter;
    std::optional<Duration> replugAfter;
    std::optional<Duration> unplugEvery;
    std::vector<uint8_t> replugIds;
    std::vector<uint8_t> only; // the cards the plug faults pull out; empty: every card
    std::vector<uint32_t> stalled;
    double slow = 1;
    Duration nak{0};
    char **command = nullptr;
};

// "500ms", "2s" or "1.5" (seconds).
bool parseDuration(const char *text, Duration *duration) {
    char *end = nullptr;
    const double value = std::strtod(text, &end);
    const std::string unit = end;
    if (end == text || value < 0 || (unit != "" && unit != "s" && unit != "ms"))
        return false;
    *duration = Duration(int64_t(unit == "ms" ? value : value * 1000));
    return true;
}

bool parseFault(const std::string &option, const char *value, Options *options) {
    Duration duration{};
    char *end = nullptr;
    if (option == "--unplug-after" || option == "--replug-after" || option == "--unplug-every" ||
        option == "--nak") {
        if (!parseDuration(value, &duration))
            return std::fprintf(stderr, "kvd4093-usb-sim: %s: not a duration: %s\n", option.c_str(), value), false;
        if (option == "--nak")
            options->nak = duration;
        else if (option == "--unplug-after")
            options->unplugAfter = duration;
        else if (option == "--unplug-every")
            options->unplugEvery = duration;
        else
            options->replugAfter = duration;
        return true;
    }
    if (option == "--only") {
        std::string error;
        if (!facts::parseVirtualCardIds(value, &options->only, &error) || options->only.empty())
            return std::fprintf(stderr, "kvd4093-usb-sim: --only: %s\n", error.c_str()), false;
        return true;
    }
    if (option == "--replug-as") {
        std::string error;
        if (!facts::parseVirtualCardIds(value, &options->replugIds, &error))
            return std::fprintf(stderr, "kvd4093-usb-sim: --replug-as: %s\n", error.c_str()), false;
        return true;
    }
    if (option == "--stall") {
        const unsigned long pipe = std::strtoul(value, &end, 10);
        if (end == value || *end != '\0' || pipe >= usbsim::kPipeEndpoints.size())
            return std::fprintf(stderr, "kvd4093-usb-sim: --stall: no pipe %s (0 to 3)\n", value), false;
        options->stalled.push_back(uint32_t(pipe));
        return true;
    }
    if (option == "--slow") {
        options->slow = std::strtod(value, &end);
        if (end == value || *end != '\0' || options->slow < 1)
            return std::fprintf(stderr, "kvd4093-usb-sim: --slow: not a factor of 1 or more: %s\n", value), false;
        return true;
    }
    return false;
}

// The plug faults that cannot work together.
bool plugFaultsAgree(const Options &options) {
    if (options.unplugEvery && options.unplugAfter)
        return std::fputs("kvd4093-usb-sim: --unplug-every and --unplug-after exclude each other\n", stderr), false;
    if (options.unplugEvery && options.unplugEvery->count() == 0)
        return std::fputs("kvd4093-usb-sim: --unplug-every: the period must be above zero\n", stderr), false;
    if (options.unplugEvery && options.replugAfter && *options.replugAfter >= *options.unplugEvery)
        return std::fputs("kvd4093-usb-sim: --replug-after must be shorter than --unplug-every\n", stderr), false;
    if (!options.replugIds.empty() && options.replugIds.size() != options.ids.size())
        return std::fputs("kvd4093-usb-sim: --replug-as needs one physical ID per card of --ids\n", stderr), false;
    for (uint8_t n : options.only)
        if (n >= options.ids.size())
            return std::fputs("kvd4093-usb-sim: --only names a card --ids does not have\n", stderr), false;
    if (!options.replugIds.empty() && !options.replugAfter)
        return std::fputs("kvd4093-usb-sim: --replug-as needs --replug-after\n", stderr), false;
    return true;
}

bool parseOptions(int argc, char **argv, Options *options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        std::string error;
        if (argument == "--") {
            if (i + 1 >= argc)
                return false;
            options->command = argv + i + 1;
            return plugFaultsAgree(*options);
        }
        if (i + 1 >= argc)
            return false;
        if (argument == "--ids") {
            if (!facts::parseVirtualCardIds(argv[++i], &options->ids, &error) || options->ids.empty())
                return std::fprintf(stderr, "kvd4093-usb-sim: --ids: %s\n", error.c_str()), false;
        } else if (argument == "--deny") {
            if (!facts::parseVirtualCardIds(argv[++i], &options->denied, &error))
                return std::fprintf(stderr, "kvd4093-usb-sim: --deny: %s\n", error.c_str()), false;
        } else if (!parseFault(argument, argv[++i], options)) {
            return false;
        }
    }
    return false;
}

// Card n of --ids into port n + 1, the virtual card first + n behind it (at a
// new address when the port held one: plug() pulls a card still in out first).
void plug(usbsim::UsbTestbed &bed, const std::vector<size_t> &cards, size_t first = 0) {
    for (size_t n : cards)
        bed.plug(uint32_t(n + 1), usbsim::kVendorId, usbsim::kProductId,
                 usbsim::virtualCardLink(int32_t(first + n)));
}

// The cards of --ids by their place, 0 to n - 1.
std::vector<size_t> everyCard(const Options &options) {
    std::vector<size_t> cards(options.ids.size());
    std::iota(cards.begin(), cards.end(), size_t(0));
    return cards;
}

// The cards the plug faults pull out and plug in again: --only's, or all.
std::vector<size_t> faultedCards(const Options &options) {
    return options.only.empty() ? everyCard(options) : std::vector<size_t>(options.only.begin(), options.only.end());
}

// The virtual cards behind the bed: those of --ids, then those of --replug-as,
// which stay out of the bed until a replug puts them in the ports.
std::vector<uint8_t> virtualCards(const Options &options) {
    std::vector<uint8_t> ids = options.ids;
    ids.insert(ids.end(), options.replugIds.begin(), options.replugIds.end());
    return ids;
}

// Pulls the cards out and plugs them in again at the times asked, from the
// command's start, until the command ends: once, or with --unplug-every again
// and again, each replug timed from its unplug.
class PlugTimer {
public:
    PlugTimer(usbsim::UsbTestbed &bed, const Options &options) : bed_(bed), options_(options) {
        if (options.unplugAfter || options.replugAfter || options.unplugEvery)
            thread_ = std::thread([this] { run(); });
    }
    ~PlugTimer() {
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    bool sleepUntil(std::chrono::steady_clock::time_point when) {
        std::unique_lock lock(mutex_);
        return !wake_.wait_until(lock, when, [&] { return ended_; });
    }
    void run() {
        const auto start = std::chrono::steady_clock::now();
        if (options_.unplugEvery) {
            for (auto unplugAt = start + *options_.unplugEvery; sleepUntil(unplugAt); unplugAt += *options_.unplugEvery) {
                unplug();
                if (options_.replugAfter && sleepUntil(unplugAt + *options_.replugAfter))
                    replug();
            }
            return;
        }
        if (options_.unplugAfter && sleepUntil(start + *options_.unplugAfter))
            unplug();
        if (options_.replugAfter && sleepUntil(start + *options_.replugAfter))
            replug();
    }
    void unplug() {
        for (size_t n : faultedCards(options_))
            bed_.unplug(uint32_t(n + 1));
    }
    void replug() { plug(bed_, faultedCards(options_), options_.replugIds.empty() ? 0 : options_.ids.size()); }

    usbsim::UsbTestbed &bed_;
    const Options &options_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool ended_ = false;
    std::thread thread_;
};

void applyFaults(usbsim::UsbTestbed &bed, const Options &options) {
    for (size_t n = 0; n < options.ids.size(); ++n) {
        usbsim::UrbEngine &engine = bed.engine(uint32_t(n + 1));
        for (uint32_t pipe : options.stalled)
            engine.stall(pipe);
        engine.slow(options.slow);
        engine.nak(options.nak);
    }
}

// The bed sends the plug events only from a process that sees it, under
// umockdev's preload library: without them a program would never see a
// card come or go. So the simulator runs itself under it.
void runUnderPreload(char **argv) {
    const char *preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr)
        return;
    setenv("LD_PRELOAD", preload && *preload ? (std::string(usbsim::kPreloadLibrary) + ":" + preload).c_str()
                                             : usbsim::kPreloadLibrary,
           1);
    execv("/proc/self/exe", argv);
    std::perror("kvd4093-usb-sim: cannot run itself under umockdev's preload library");
    _exit(1);
}

void prepareEnvironment() {
    char pair[16];
    std::snprintf(pair, sizeof pair, "%04x:%04x", usbsim::kVendorId, usbsim::kProductId);
    setenv("KVD4093_USB_IDS", pair, 1);
    unsetenv(facts::kVirtualCardsVariable);
}

// Runs the command and waits for it; its exit status, 128 + signal when a signal ended it.
int run(char **command, bool asNobody) {
    const pid_t child = fork();
    if (child < 0)
        return std::perror("kvd4093-usb-sim: fork"), 1;
    if (child == 0) {
        if (asNobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(127);
        execvp(command[0], command);
        std::fprintf(stderr, "kvd4093-usb-sim: %s: %s\n", command[0], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        std::fputs(kUsage, stderr);
        return kUsageStatus;
    }
    runUnderPreload(argv);
    vcard::install(virtualCards(options), vcard::environmentBehaviour());
    usbsim::UsbTestbed bed;
    plug(bed, everyCard(options));
    applyFaults(bed, options);
    for (uint8_t n : options.denied)
        bed.denyAccess(uint32_t(n) + 1);
    const bool asNobody = !options.denied.empty() && geteuid() == 0;
    // Root passes every permission, so the command runs as nobody, who must
    // still reach the bed and make its event sockets there (as in /tmp).
    if (asNobody)
        ::chmod(bed.rootDirectory().c_str(), 01777);
    prepareEnvironment();
    int status = 0;
    {
        const PlugTimer timer(bed, options);
        status = run(options.command, asNobody);
    }
    vcard::uninstall();
    return status;
}
