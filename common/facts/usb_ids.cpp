#include "facts/usb_ids.h"

#include <cctype>
#include <cstdio>

namespace kvd::facts {
namespace {

constexpr int kPlaceTiers = 7;

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

bool refuse(const std::string &why, std::vector<UsbId> *ids, std::string *error) {
    ids->clear();
    *error = why;
    return false;
}

} // namespace

bool parseUsbIds(const char *text, std::vector<UsbId> *ids, std::string *error) {
    ids->clear();
    const char *cursor = text;
    while (true) {
        UsbId id;
        if (!parsePair(cursor, &id))
            return refuse(std::string("expected vvvv:pppp (hex) at \"") + cursor + "\"", ids, error);
        ids->push_back(id);
        if (*cursor == '\0')
            return true;
        if (*cursor != ',')
            return refuse(std::string("expected ',' at \"") + cursor + "\"", ids, error);
        ++cursor;
    }
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

uint64_t usbPlace(uint8_t bus, const uint8_t *ports, int depth) {
    uint64_t place = bus;
    for (int i = 0; i < kPlaceTiers; ++i)
        place = place << 8 | (i < depth ? ports[i] : 0);
    return place;
}

} // namespace kvd::facts
