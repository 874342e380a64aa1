// kvd4093-usb-sim: runs a program with emulated KVD4093 cards on USB.
//
//   kvd4093-usb-sim [--ids 7,9,5] [--deny 0,2] -- COMMAND [ARGS...]
//
// The cards are virtual cards (the same model as KVD4093_VIRTUAL_CARDS) put
// behind emulated USB devices in a umockdev test bed; COMMAND runs with
// umockdev's preload library, so libusb, and the library's USB backend with
// it, find them as if they were plugged in. COMMAND's exit status is passed back.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "card_descriptors.h"
#include "card_link.h"
#include "platform/virtual/card_registry.h"
#include "platform/virtual/virtual_card.h"
#include "usb_testbed.h"

namespace {

using namespace kvd;

constexpr int kUsageStatus = 2;
constexpr uid_t kNobody = 65534;

const char kUsage[] =
    "Usage: kvd4093-usb-sim [--ids IDS] [--deny NUMBERS] -- COMMAND [ARGS...]\n"
    "\n"
    "Runs COMMAND with emulated KVD4093 cards on USB (umockdev), found by libusb\n"
    "as if they were plugged in, and passes its exit status back.\n"
    "\n"
    "  --ids IDS        the cards' physical IDs in logical order, e.g. 7,9,5 (default 0)\n"
    "  --deny NUMBERS   take the permissions from these cards' device files (logical\n"
    "                   numbers, e.g. 0,2); run as root, COMMAND then runs as user nobody\n"
    "\n"
    "COMMAND sees KVD4093_USB_IDS set to the cards' pair and KVD4093_VIRTUAL_CARDS\n"
    "unset. KVD4093_VIRTUAL_PACING and KVD4093_VIRTUAL_NOISE act as for virtual cards.\n";

struct Options {
    std::vector<uint8_t> ids{0};
    std::vector<uint8_t> denied;
    char **command = nullptr;
};

bool parseOptions(int argc, char **argv, Options *options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        std::string error;
        if (argument == "--") {
            if (i + 1 >= argc)
                return false;
            options->command = argv + i + 1;
            return true;
        }
        if (i + 1 >= argc)
            return false;
        if (argument == "--ids") {
            if (!vcard::parseCardList(argv[++i], &options->ids, &error) || options->ids.empty())
                return std::fprintf(stderr, "kvd4093-usb-sim: --ids: %s\n", error.c_str()), false;
        } else if (argument == "--deny") {
            if (!vcard::parseCardList(argv[++i], &options->denied, &error))
                return std::fprintf(stderr, "kvd4093-usb-sim: --deny: %s\n", error.c_str()), false;
        } else {
            return false;
        }
    }
    return false;
}

void prepareEnvironment() {
    const char *preload = std::getenv("LD_PRELOAD");
    std::string libraries = usbsim::kPreloadLibrary;
    if (preload != nullptr && *preload != '\0')
        libraries += std::string(":") + preload;
    setenv("LD_PRELOAD", libraries.c_str(), 1);
    char pair[16];
    std::snprintf(pair, sizeof pair, "%04x:%04x", usbsim::kVendorId, usbsim::kProductId);
    setenv("KVD4093_USB_IDS", pair, 1);
    unsetenv(vcard::kEnvironmentVariable);
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
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        std::fputs(kUsage, stderr);
        return kUsageStatus;
    }
    vcard::install(options.ids, vcard::environmentBehaviour());
    usbsim::UsbTestbed bed;
    for (size_t n = 0; n < options.ids.size(); ++n)
        bed.plug(uint32_t(n + 1), usbsim::kVendorId, usbsim::kProductId, usbsim::virtualCardLink(int32_t(n)));
    for (uint8_t n : options.denied)
        bed.denyAccess(uint32_t(n) + 1);
    const bool asNobody = !options.denied.empty() && geteuid() == 0;
    // Root passes every permission, so the command runs as nobody, who must
    // still reach the bed and make its event sockets there (as in /tmp).
    if (asNobody)
        ::chmod(bed.rootDirectory().c_str(), 01777);
    prepareEnvironment();
    const int status = run(options.command, asNobody);
    vcard::uninstall();
    return status;
}
