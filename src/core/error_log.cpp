// The in-memory error log: appending entries and looking up the newest
// message of a function name. One mutex makes each entry's four appends and
// the cap test one step, so a lookup never sees half an entry.
#include "core/error_log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "core/messages.h"

namespace kvd {
namespace {

constexpr size_t kStringsPerEntry = 4;
constexpr size_t kTimestampSize = 32;

std::string textOrEmpty(const char *text) { return text != nullptr ? std::string(text) : std::string(); }

std::string codeText(int32_t code) {
    char text[24];
    std::snprintf(text, sizeof text, "%d(Dec)", static_cast<int>(code));
    return text;
}

std::string timestampText(const platform::SystemTime &time) {
    char text[kTimestampSize];
    ErrorLog::formatTimestamp(time, text);
    return text;
}

// Writes "<message>[<name>]" byte for byte; neither text is ever used as a
// format. The name is moved into place first, so a caller may pass the same
// buffer as name and answer.
void writeAnswer(std::string_view message, std::string_view name, char *answer) {
    std::memmove(answer + message.size() + 1, name.data(), name.size());
    std::memcpy(answer, message.data(), message.size());
    answer[message.size()] = '[';
    answer[message.size() + 1 + name.size()] = ']';
    answer[message.size() + 2 + name.size()] = '\0';
}

} // namespace

void ErrorLog::formatTimestamp(const platform::SystemTime &time, char *out) {
    // Room for any 16-bit field values; a real clock needs 23 characters, and
    // out-of-range fields are cut to the 32 bytes out holds.
    char full[48];
    // The hour is shifted to UTC+8 without carrying into the date.
    const int length = std::snprintf(full, sizeof full, "%4.4d/%2.2d/%2d %2.2d:%2.2d:%2.2d:%3.3d", int(time.year),
                                     int(time.month), int(time.day), int(time.hour) + 8, int(time.minute),
                                     int(time.second), int(time.milliseconds));
    const size_t kept = std::min(static_cast<size_t>(std::max(length, 0)), kTimestampSize - 1);
    std::memcpy(out, full, kept);
    out[kept] = '\0';
}

int32_t ErrorLog::logError(int32_t code, const char *functionName, const char *message) {
    // Copies are made before the lock so the critical section only moves them in.
    std::string name = textOrEmpty(functionName);
    std::string text = textOrEmpty(message);
    std::string codeString = codeText(code);
    {
        std::lock_guard lock(mutex_);
        if (strings_.size() > kMaxStrings)
            std::vector<std::string>().swap(strings_); // empties and releases the storage
        // The clock is read under the lock so the entries' order is the timestamps' order.
        std::string timestamp = timestampText(clock_());
        // Room for the whole entry first: the moves below cannot fail halfway.
        if (strings_.capacity() - strings_.size() < kStringsPerEntry)
            strings_.reserve(std::max(2 * strings_.capacity(), strings_.size() + kStringsPerEntry));
        strings_.push_back(std::move(timestamp));
        strings_.push_back(std::move(name));
        strings_.push_back(std::move(text));
        strings_.push_back(std::move(codeString));
    }
    if (code != 0)
        platform::setLastError(static_cast<uint32_t>(code));
    return 1;
}

void ErrorLog::lookup(const char *functionName, char *answer) const {
    if (functionName == nullptr || answer == nullptr)
        return;
    const std::string_view name(functionName);
    std::lock_guard lock(mutex_);
    for (size_t i = strings_.size(); i-- > 0;) {
        if (strings_[i] != name)
            continue;
        // A match on the last string (a code text) has no string after it to
        // report; it answers as a name that was never logged.
        if (i + 1 < strings_.size()) {
            writeAnswer(strings_[i + 1], name, answer);
            return;
        }
        break;
    }
    writeAnswer(text::kNoErrorMessage, name, answer);
}

std::vector<std::string> ErrorLog::strings() const {
    std::lock_guard lock(mutex_);
    return strings_;
}

size_t ErrorLog::size() const {
    std::lock_guard lock(mutex_);
    return strings_.size();
}

void ErrorLog::clear() {
    std::vector<std::string> released;
    std::lock_guard lock(mutex_);
    released.swap(strings_); // gives the memory back, not only the entries
}

} // namespace kvd
