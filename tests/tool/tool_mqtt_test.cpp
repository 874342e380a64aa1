// kvd4093 acquire --publish and kvd4093 collect through a real mosquitto
// broker (mqtt_broker.h): what is collected equals, sample for sample, the
// local file of the same run, a file per publishing machine; a broker
// restarted mid-run leaves exactly the gaps the publisher reports; a login
// or TLS refused fails before the card starts; a stopped collect completes
// its files.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/format_readers.h"
#include "tool/mqtt_broker.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

using namespace std::chrono_literals;

const Environment kPassword = {{"KVD4093_MQTT_PASSWORD", kBrokerPassword}};

// The files collect wrote for one host.
std::vector<std::string> collectedFiles(const std::string &folder, const std::string &host) {
    std::vector<std::string> files;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind(host + "-", 0) == 0)
            files.push_back(entry.path().string());
    return files;
}

// A CSV's scan lines by their scan number, and its gap comments.
struct CsvScans {
    std::map<uint64_t, std::string> lines;
    std::vector<std::string> gaps; // "N scans lost from scan S"
};

CsvScans csvScans(const std::string &path) {
    CsvScans scans;
    const std::vector<std::string> lines = linesOf(readWholeFile(path));
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].rfind("# ", 0) == 0)
            scans.gaps.push_back(lines[i].substr(2));
        else if (!lines[i].empty())
            scans.lines[std::stoull(lines[i])] = lines[i];
    }
    return scans;
}

// The publisher's summary's gaps, "  scans A to B (N)", as the CSV writes them.
std::vector<std::string> reportedGaps(const std::string &out) {
    std::vector<std::string> gaps;
    const std::regex line(R"(\n  scans (\d+) to \d+ \((\d+)\))");
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
        gaps.push_back((*it)[2].str() + " scans lost from scan " + (*it)[1].str());
    return gaps;
}

class MqttTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = MqttBroker::missing(dir_.path()); !why.empty())
            GTEST_SKIP() << why;
        broker_ = std::make_unique<MqttBroker>(dir_.path());
    }

    std::unique_ptr<ToolProcess> startCollect(const std::string &format) {
        auto collect = std::make_unique<ToolProcess>(
            dir_.path(), std::vector<std::string>{"collect", broker_->address("lab/#"), "--output", "collected",
                                                  "--format", format},
            kPassword);
        broker_->waitForSubscription("lab/#");
        return collect;
    }

    std::vector<std::string> acquire(const std::string &host, const std::vector<std::string> &more) {
        std::vector<std::string> arguments = {"acquire", "--channels", "0-3", "--publish",
                                              broker_->address("lab"), "--host-name", host,
                                              "--output", "local-" + host + ".csv"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        if (std::find(more.begin(), more.end(), "--id") == more.end())
            arguments.push_back("--virtual");
        return arguments;
    }

    TempDir dir_;
    std::unique_ptr<MqttBroker> broker_;
};

struct Collected {
    std::string format;
    std::vector<std::string> hosts; // a publisher each, one after the other
    std::vector<std::string> cards; // of each: one virtual card (ID 0), or a group
    std::string id;                 // the ID level of its topics
};

void PrintTo(const Collected &c, std::ostream *out) {
    *out << c.format << " from " << c.hosts.size() << " hosts, cards " << c.id;
}

class MqttCollectTest : public MqttTest, public ::testing::WithParamInterface<Collected> {};

// Every host's run becomes one file holding the local file's samples.
TEST_P(MqttCollectTest, EachRunIsOneFileEqualToTheLocalFile) {
    const Collected &collected = GetParam();
    if (const std::string why = missingReader(collected.format == "h5" ? "h5py" : "numpy"); !why.empty())
        GTEST_SKIP() << why;
    const auto collect = startCollect(collected.format);
    for (const std::string &host : collected.hosts) {
        std::vector<std::string> options = {"--rate", "400k", "--samples", "30k"};
        options.insert(options.end(), collected.cards.begin(), collected.cards.end());
        const ChildResult run = runTool(dir_.path(), acquire(host, options), kPassword);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    std::this_thread::sleep_for(500ms);
    collect->signal(SIGINT);
    const ChildResult result = collect->wait(20s);
    EXPECT_EQ(result.exitCode, 130) << result.err;
    for (const std::string &host : collected.hosts) {
        const std::vector<std::string> files = collectedFiles(dir_.file("collected"), host + "-" + collected.id);
        ASSERT_EQ(files.size(), 1u) << host << "\n" << result.out;
        const std::vector<std::string> local = csvValueRows(dir_.file("local-" + host + ".csv"));
        EXPECT_EQ(local.size(), 30000u);
        EXPECT_EQ(collected.format == "h5" ? readHdf5(files.front()).rows : csvValueRows(files.front()), local);
        EXPECT_NE(result.out.find(host + "/" + collected.id + ": run "), std::string::npos) << result.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, MqttCollectTest,
                         ::testing::Values(Collected{"csv", {"bench1"}, {}, "0"},
                                           Collected{"h5", {"bench1", "bench2"}, {}, "0"},
                                           Collected{"csv", {"bench1"}, {"--virtual=7,9", "--id", "7,9"}, "7_9"}));

// The broker away for 2 s, the publisher keeping 0.2 s of blocks: what it
// dropped is what the collected file lacks, and every other line is the
// local file's.
TEST_F(MqttTest, ABrokerRestartedMidRunLeavesTheGapsThePublisherReports) {
    const auto collect = startCollect("csv");
    ToolProcess publisher(dir_.path(), acquire("bench1", {"--rate", "100k", "--time", "6s", "--buffer", "200ms"}),
                          {{"KVD4093_MQTT_PASSWORD", kBrokerPassword}, {"KVD4093_VIRTUAL_PACING", "on"}});
    std::this_thread::sleep_for(1500ms);
    broker_->stop();
    std::this_thread::sleep_for(2s);
    broker_->start();
    const ChildResult published = publisher.wait(30s);
    ASSERT_EQ(published.exitCode, 0) << published.err;
    std::this_thread::sleep_for(1s);
    collect->signal(SIGINT);
    const ChildResult result = collect->wait(20s);

    const std::vector<std::string> gaps = reportedGaps(published.out);
    EXPECT_FALSE(gaps.empty()) << published.out;
    const std::vector<std::string> files = collectedFiles(dir_.file("collected"), "bench1");
    ASSERT_EQ(files.size(), 1u) << result.out << result.err;
    const CsvScans local = csvScans(dir_.file("local-bench1.csv"));
    const CsvScans remote = csvScans(files.front());
    EXPECT_EQ(remote.gaps, gaps) << published.out << result.out << result.err;
    uint64_t lost = 0;
    for (const std::string &gap : gaps)
        lost += std::stoull(gap);
    EXPECT_EQ(remote.lines.size() + lost, local.lines.size());
    for (const auto &[scan, line] : remote.lines)
        ASSERT_EQ(line, local.lines.at(scan)) << "scan " << scan;
}

struct Refusal {
    std::string name;
    std::string scheme; // what replaces "mqtt://"
    std::vector<std::string> more;
    std::string password;
    std::string message;
};

void PrintTo(const Refusal &refusal, std::ostream *out) { *out << refusal.name; }

class MqttRefusalTest : public MqttTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(MqttRefusalTest, FailsBeforeTheCardStarts) {
    const Refusal &refusal = GetParam();
    for (const std::string &file : refusal.more)
        if (file.front() == '/' && !std::filesystem::exists(file))
            GTEST_SKIP() << "no " << file;
    std::vector<std::string> arguments = acquire("bench1", {"--time", "1s"});
    const auto url = std::find(arguments.begin(), arguments.end(), "--publish") + 1;
    *url = refusal.scheme + url->substr(url->find("://"));
    arguments.insert(arguments.end(), refusal.more.begin(), refusal.more.end());
    const ChildResult result = runTool(dir_.path(), arguments,
                                       {{"KVD4093_MQTT_PASSWORD", refusal.password},
                                        {"KVD4093_TRACE", dir_.file("trace.txt")}});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(refusal.message), std::string::npos) << result.err;
    EXPECT_EQ(readWholeFile(dir_.file("trace.txt")).find(kTracedAdStart), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("local-bench1.csv")));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, MqttRefusalTest,
    ::testing::Values(Refusal{"WrongPassword", "mqtt", {}, "wrong", "the broker refused the connection: "},
                      Refusal{"TlsToAPlainListener", "mqtts", {"--ca", "/etc/ssl/certs/ca-certificates.crt"},
                              kBrokerPassword, "TLS"}),
    [](const auto &info) { return info.param.name; });

// Ctrl-C while a run is still being published: the file is complete and
// holds the scans the end line counts, the local file's first ones.
TEST_F(MqttTest, CollectStoppedMidRunCompletesItsFiles) {
    if (const std::string why = missingReader("h5py"); !why.empty())
        GTEST_SKIP() << why;
    const auto collect = startCollect("h5");
    ToolProcess publisher(dir_.path(), acquire("bench1", {"--rate", "100k", "--continuous"}),
                          {{"KVD4093_MQTT_PASSWORD", kBrokerPassword}, {"KVD4093_VIRTUAL_PACING", "on"}});
    std::this_thread::sleep_for(1500ms);
    collect->signal(SIGINT);
    const ChildResult result = collect->wait(20s);
    publisher.signal(SIGINT);
    publisher.wait(20s);

    EXPECT_EQ(result.exitCode, 130) << result.err;
    std::smatch ended;
    ASSERT_TRUE(std::regex_search(result.out, ended, std::regex(R"(ended \(collect stopped\): (\d+) scans)")))
        << result.out;
    const std::vector<std::string> files = collectedFiles(dir_.file("collected"), "bench1");
    ASSERT_EQ(files.size(), 1u);
    const std::vector<std::string> rows = readHdf5(files.front()).rows;
    EXPECT_EQ(rows.size(), std::stoull(ended[1].str()));
    const std::vector<std::string> local = csvValueRows(dir_.file("local-bench1.csv"));
    ASSERT_GE(local.size(), rows.size());
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), local.begin()));
}

} // namespace
} // namespace kvd::testing
