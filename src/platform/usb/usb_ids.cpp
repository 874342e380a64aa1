// The vendor:product pairs that make a USB device a card.
#include "platform/usb/usb_ids.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kvd::platform::usb {
namespace {

#ifndef KVD4093_DEFAULT_USB_IDS
#define KVD4093_DEFAULT_USB_IDS ""
#endif

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// One to four hex digits at *cursor; moves past them.
bool parseHex16(const char *&cursor, uint16_t *value) {
    uint32_t result = 0;
    int digits = 0;
    while (std::isxdigit(static_cast<unsigned char>(*cursor)) && digits < 5) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(*cursor)));
        result = result * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        ++cursor;
        ++digits;
    }
    *value = static_cast<uint16_t>(result);
    return digits >= 1 && digits <= 4;
}

bool parsePair(const char *&cursor, UsbId *id) {
    while (isBlank(*cursor))
        ++cursor;
    if (!parseHex16(cursor, &id->vendor) || *cursor != ':')
        return false;
    ++cursor;
    if (!parseHex16(cursor, &id->product))
        return false;
    while (isBlank(*cursor))
        ++cursor;
    return true;
}

} // namespace

bool parseUsbIds(const char *text, std::vector<UsbId> *ids, std::string *error) {
    ids->clear();
    const char *cursor = text;
    while (true) {
        UsbId id;
        if (!parsePair(cursor, &id)) {
            *error = std::string("expected vvvv:pppp (hex) at \"") + cursor + "\"";
            ids->clear();
            return false;
        }
        ids->push_back(id);
        if (*cursor == '\0')
            return true;
        if (*cursor != ',') {
            *error = std::string("expected ',' at \"") + cursor + "\"";
            ids->clear();
            return false;
        }
        ++cursor;
    }
}

std::vector<UsbId> configuredUsbIds() {
    const char *value = std::getenv(kIdsVariable);
    const char *text = value ? value : KVD4093_DEFAULT_USB_IDS;
    std::vector<UsbId> ids;
    if (*text == '\0')
        return ids;
    std::string error;
    if (!parseUsbIds(text, &ids, &error)) {
        static std::once_flag said;
        std::call_once(said, [&] { std::fprintf(stderr, "%s: %s; no USB device matches\n", kIdsVariable, error.c_str()); });
    }
    return ids;
}

std::string formatUsbIds(const std::vector<UsbId> &ids) {
    std::string text;
    for (const UsbId &id : ids) {
        char pair[16];
        std::snprintf(pair, sizeof pair, "%s%04x:%04x", text.empty() ? "" : ",", id.vendor, id.product);
        text += pair;
    }
    return text;
}

} // namespace kvd::platform::usb
