#include "support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include "device/device_object.h"
#include "device/transport.h"
#include "core/library_app.h"
#include "platform/platform.h"
#include "support/usb_backend.h"

namespace kvd::testing {

TempDir::TempDir() {
    namespace fs = std::filesystem;
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("kvd4093-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) { // false when it exists already
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeWholeFile(const std::string &path, const std::string &bytes) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder);
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct CapturedMessages::State {
    mutable std::mutex mutex;
    std::vector<Message> messages;
};

CapturedMessages::CapturedMessages() : state_(new State) { platform::setMessageCapture(&capture, this); }

CapturedMessages::~CapturedMessages() {
    platform::setMessageCapture(nullptr, nullptr);
    delete state_;
}

std::vector<Message> CapturedMessages::messages() const {
    std::lock_guard lock(state_->mutex);
    return state_->messages;
}

void CapturedMessages::capture(void *self, const char *text, const char *caption, uint32_t style) {
    State &state = *static_cast<CapturedMessages *>(self)->state_;
    std::lock_guard lock(state.mutex);
    state.messages.push_back({text, caption, style});
}

std::string hexBytes(const std::vector<uint8_t> &bytes, size_t count) {
    std::string out;
    char digits[4];
    for (size_t i = 0; i < bytes.size() && i < count; ++i) {
        std::snprintf(digits, sizeof digits, i ? " %02x" : "%02x", bytes[i]);
        out += digits;
    }
    return out;
}

std::vector<vcard::Request> requestsOf(const vcard::Card &card, uint32_t code, int32_t pipe) {
    std::vector<vcard::Request> matching;
    for (const vcard::Request &request : card.requests())
        if (request.code == code && (pipe < 0 || request.pipe == pipe))
            matching.push_back(request);
    return matching;
}

size_t errorLogStrings() { return theApp().errorLog().size(); }

std::ostream &operator<<(std::ostream &out, const LogEntry &entry) {
    return out << "{" << entry.name << ", " << entry.message << ", " << entry.code << "}";
}

std::vector<LogEntry> entriesSince(size_t since) {
    const std::vector<std::string> strings = theApp().errorLog().strings();
    std::vector<LogEntry> entries;
    for (size_t i = since; i + 3 < strings.size(); i += 4)
        entries.push_back({strings[i + 1], strings[i + 2], strings[i + 3]});
    return entries;
}

void VirtualCardTest::TearDown() {
    for (int32_t n = 0; n < vcard::cardCount(); ++n) {
        vcard::card(n).failClose(false);
        vcard::card(n).releaseReads();
    }
    for (KVD4093_HANDLE handle : opened_)
        device::discardDevice(handle);
    vcard::uninstall();
    if (usb_backend::active())
        usb_backend::detach();
}

void VirtualCardTest::install(const std::vector<uint8_t> &physicalIds) {
    vcard::install(physicalIds);
    if (usb_backend::active())
        usb_backend::attach();
}

KVD4093_HANDLE VirtualCardTest::openRecord(int32_t logicalNumber) {
    uint32_t status = 0;
    device::DriverFile driver;
    if (!device::openDriver(logicalNumber, &status, &driver))
        return KVD4093_INVALID_HANDLE;
    KVD4093_HANDLE handle = device::createDeviceObject(driver).get();
    opened_.push_back(handle);
    return handle;
}

} // namespace kvd::testing
