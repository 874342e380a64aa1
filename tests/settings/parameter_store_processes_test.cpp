// The parameter store shared by processes: two saving at once lose nothing
// while a reader only ever sees whole files, a load sees one version of the
// file, and a process killed while it saves leaves a file that still reads.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <iterator>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/posix/registry_file.h"
#include "support/config_home.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

constexpr char kRoot[] = "HKEY_CURRENT_USER\\Software\\Olm\\KVD4093";

// A forked copy of this process that runs body once the parent says go,
// then ends without running this process's exit code.
class Child {
public:
    template <class Body>
    explicit Child(Body body) {
        int go[2];
        int progress[2];
        if (pipe(go) != 0 || pipe(progress) != 0)
            throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ < 0)
            throw std::runtime_error("fork");
        if (pid_ == 0) {
            close(go[1]);
            close(progress[0]);
            char start = 0;
            const bool started = read(go[0], &start, 1) == 1;
            _exit(started && body(progress[1]) ? 0 : 1);
        }
        close(go[0]);
        close(progress[1]);
        go_ = go[1];
        progress_ = progress[0];
    }
    ~Child() {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            wait();
        }
        close(go_);
        close(progress_);
    }

    void start() { EXPECT_EQ(write(go_, "g", 1), 1); }
    // Waits for one byte the child reports through its progress pipe.
    bool progressed() {
        char byte = 0;
        return read(progress_, &byte, 1) == 1;
    }
    void kill9() { kill(pid_, SIGKILL); }
    // The exit status, or minus the signal that ended it.
    int wait() {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int go_ = -1;
    int progress_ = -1;
    bool waited_ = false;
};

// The settings file as a reader finds it; false when it does not parse.
bool readsWhole(const ConfigHome &home, platform::RegistryFile *tree, std::string *error) {
    return tree->parse(readWholeFile(home.settingsFile()), error);
}

// Whether a text is a whole file as the store writes it: one that parses and
// ends with the blank line after its last key. An empty text is a file not
// made yet.
bool isWhole(const std::string &text, std::string *error) {
    platform::RegistryFile tree(kRoot);
    if (!tree.parse(text, error))
        return false;
    if (text.empty() || text.ends_with("\r\n\r\n"))
        return true;
    *error = "cut short: " + text.substr(text.size() > 40 ? text.size() - 40 : 0);
    return false;
}

// A record whose every field holds one number.
ADPara uniform(int32_t number) {
    ADPara record;
    for (int32_t *field = &record.CheckStsMode; field <= &record.bClockOutput; ++field)
        *field = number;
    return record;
}

// The number a record of uniform() holds, or -1 when its fields differ.
int32_t uniformNumber(const platform::RegistryFile &tree, const char *section) {
    static const char *const kNames[] = {"CheckStsMode", "ADMode",        "FirstChannel", "LastChannel", "Frequency",
                                         "InputRange",   "GroupInterval", "LoopsOfGroup", "Gains",       "TriggerMode",
                                         "TriggerType",  "TriggerSource", "TriggerDir",   "TrigWindow",  "GroundingMode",
                                         "ClockSource",  "bClockOutput"};
    int32_t number = -1;
    for (size_t i = 0; i < std::size(kNames); ++i) {
        const platform::RegistryValue *value = tree.find(section, kNames[i]);
        if (value == nullptr || (i > 0 && static_cast<int32_t>(value->dword) != number))
            return -1;
        number = static_cast<int32_t>(value->dword);
    }
    return number;
}

TEST(ParameterStoreProcessesTest, TwoProcessesSavingAtOnceLoseNothingAndReadersSeeWholeFiles) {
    ConfigHome home;
    // Each process saves every fourth record as the AD record both share
    // (every field the process's number), the others as free values under
    // names of its own. Every save is flushed to the disk, so the count is
    // kept small enough for a quick test; the overlap is what matters.
    constexpr int kRecords = 120;
    constexpr int32_t kProcessBase = 100000;
    auto saver = [](int process) {
        return [process](int) {
            bool saved = true;
            for (int k = 0; k < kRecords; ++k) {
                const std::string own = "P" + std::to_string(process) + "-" + std::to_string(k);
                const ADPara record = uniform(process * kProcessBase + k);
                saved = saved && (k % 4 == 3 ? KVD4093_SaveParaAD(nullptr, &record)
                                             : KVD4093_SaveParaInt(nullptr, own.c_str(), k)) == 1;
            }
            return saved;
        };
    };
    Child first(saver(0));
    Child second(saver(1));
    first.start();
    second.start();

    // Read while they write: every file a reader finds is whole.
    std::atomic<bool> done{false};
    int reads = 0;
    int broken = 0;
    std::string error;
    std::thread reader([&] {
        bool made = false; // once made, the file is never empty again
        while (!done) {
            const std::string text = readWholeFile(home.settingsFile());
            made = made || !text.empty();
            broken += isWhole(text, &error) && !(made && text.empty()) ? 0 : 1;
            ++reads;
            std::this_thread::sleep_for(std::chrono::microseconds(200)); // leave the writers a core
        }
    });
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);
    done = true;
    reader.join();
    EXPECT_EQ(broken, 0) << "of " << reads << " reads; " << error;

    platform::RegistryFile tree(kRoot);
    ASSERT_TRUE(readsWhole(home, &tree, &error)) << error;
    int missing = 0;
    for (int process = 0; process < 2; ++process)
        for (int k = 0; k < kRecords; ++k) {
            const std::string own = "P" + std::to_string(process) + "-" + std::to_string(k);
            const platform::RegistryValue *value = tree.find("Device-0\\Others", own.c_str());
            const bool saved = value != nullptr && value->dword == static_cast<uint32_t>(k);
            missing += k % 4 != 3 && !saved ? 1 : 0;
        }
    EXPECT_EQ(missing, 0) << "records lost";
    // The AD record is whole, and one of the two saved last.
    const int32_t last = uniformNumber(tree, "Device-0\\ADPara");
    EXPECT_TRUE(last == kRecords - 1 || last == kProcessBase + kRecords - 1) << last;
}

// A load reads the settings once: while another program keeps replacing the
// file, each time with one of two saved records, every load gives one of
// them whole, never fields of both.
TEST(ParameterStoreProcessesTest, ALoadGivesOneSavedRecordWholeWhileTheFileIsReplaced) {
    ConfigHome home;
    std::string versions[2];
    for (int32_t n = 0; n < 2; ++n) {
        const ADPara record = uniform(n + 1);
        ASSERT_EQ(KVD4093_SaveParaAD(nullptr, &record), 1);
        versions[n] = readWholeFile(home.settingsFile());
    }
    std::atomic<bool> done{false};
    std::thread replacer([&] {
        // Written beside the file and renamed over it, as a saving program does.
        const std::string beside = home.settingsFile() + ".next";
        for (int n = 0; !done.load(); ++n) {
            std::ofstream(beside, std::ios::binary) << versions[n % 2];
            std::rename(beside.c_str(), home.settingsFile().c_str());
        }
    });
    int mixed = 0;
    for (int load = 0; load < 300; ++load) {
        ADPara loaded{};
        KVD4093_LoadParaAD(nullptr, &loaded);
        const ADPara whole = uniform(loaded.CheckStsMode);
        mixed += std::memcmp(&loaded, &whole, sizeof whole) == 0 ? 0 : 1;
    }
    done.store(true);
    replacer.join();
    EXPECT_EQ(mixed, 0) << "loads that mixed the fields of two records";
}

TEST(ParameterStoreProcessesTest, AProcessKilledWhileSavingLeavesAWholeFileAndAWholeRecord) {
    ConfigHome home;
    // Each round starts from a record of zeros the previous round saved.
    for (int round = 0; round < 4; ++round) {
        // Saves records whose every field is the record's number, and
        // reports each finished save.
        Child saver([](int progress) {
            for (int32_t k = 1;; ++k) {
                const ADPara record = uniform(k);
                if (KVD4093_SaveParaAD(nullptr, &record) != 1 || write(progress, "s", 1) != 1)
                    return false;
            }
        });
        saver.start();
        ASSERT_TRUE(saver.progressed());
        std::this_thread::sleep_for(std::chrono::microseconds(3000 * round)); // a different moment each round
        saver.kill9();
        EXPECT_EQ(saver.wait(), -SIGKILL);

        platform::RegistryFile tree(kRoot);
        std::string error;
        ASSERT_TRUE(readsWhole(home, &tree, &error)) << "round " << round << ": " << error;
        EXPECT_GE(uniformNumber(tree, "Device-0\\ADPara"), 1)
            << "round " << round << ": one whole record of those the process saved";
        // The lock went with the process; the next save goes through.
        const ADPara next{};
        EXPECT_EQ(KVD4093_SaveParaAD(nullptr, &next), 1) << "round " << round;
    }
}

} // namespace
} // namespace kvd::testing
