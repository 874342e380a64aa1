// The cards a configuration names: "0" or "id:7", or a group's list of them,
// "0,1" or "id:7,id:9", every card named the same way and once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvd::stream {

struct CardName {
    bool byPhysicalId = false; // "id:7"; else a logical number, "0"
    int32_t value = 0;
};

// The names in order, or false with the reason.
bool parseCardList(const char *cards, std::vector<CardName> *names, std::string *reason);

} // namespace kvd::stream
