// Shared helpers of the test suite: temporary directories, captured message
// boxes, virtual cards put in place for one test, and byte formatting.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KVD4093.h"
#include "platform/virtual/virtual_card.h"

namespace kvd::testing {

// A fresh directory below the system's temporary directory ($TMPDIR or /tmp;
// on Windows %TEMP%), removed with its content at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string readWholeFile(const std::string &path);
// Writes the bytes as the whole file, making its folders first.
void writeWholeFile(const std::string &path, const std::string &bytes);

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string &text);

// One message box as the platform's message service received it.
struct Message {
    std::string text;
    std::string caption;
    uint32_t style;
};

// Captures every message box while it lives; no box is shown.
class CapturedMessages {
public:
    CapturedMessages();
    ~CapturedMessages();
    std::vector<Message> messages() const;

private:
    static void capture(void *self, const char *text, const char *caption, uint32_t style);
    struct State;
    State *state_;
};

// Lower-case hex, two digits a byte, blank between bytes: "01 1f 00 10".
std::string hexBytes(const std::vector<uint8_t> &bytes, size_t count = SIZE_MAX);

// The requests of a card matching a code and (for bulk requests) a pipe (-1: any).
std::vector<vcard::Request> requestsOf(const vcard::Card &card, uint32_t code, int32_t pipe = -1);

// Strings the error log holds now (four per entry).
size_t errorLogStrings();

// One error-log entry without its timestamp.
struct LogEntry {
    std::string name;
    std::string message;
    std::string code; // the code text, "1(Dec)"
    bool operator==(const LogEntry &) const = default;
};
std::ostream &operator<<(std::ostream &out, const LogEntry &entry);
// The entries logged after the log held `since` strings.
std::vector<LogEntry> entriesSince(size_t since);

// A test with virtual cards: installs them, captures message boxes, and on
// tear-down releases what it opened and removes the cards.
class VirtualCardTest : public ::testing::Test {
protected:
    // On the USB card backend (usb_backend.h) the cards stand behind emulated USB devices.
    void install(const std::vector<uint8_t> &physicalIds);
    void TearDown() override;

    // A device record opened at a logical number the way the open call makes it,
    // without the open packet; released at tear-down unless released before.
    KVD4093_HANDLE openRecord(int32_t logicalNumber);

    CapturedMessages messages_;
    std::vector<KVD4093_HANDLE> opened_;
};

} // namespace kvd::testing
