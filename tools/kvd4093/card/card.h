// Choosing and opening a card: --card N (logical number, the order of
// plugging in) or --id P (the physical ID set on the card); card 0 when
// neither is given. --virtual[=IDS] selects virtual cards for the process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KVD4093.h"
#include "common/options.h"

namespace kvd::tool {

struct CardChoice {
    bool given = false; // --card or --id was on the command line
    bool byPhysicalId = false;
    int32_t number = 0;
};

// Takes --card or --id from the command line.
CardChoice takeCardChoice(Arguments &arguments);
// The same where a list chooses a group (--card 0,1 or --id 7,9): one
// choice a card, in the order given; card 0 alone when neither is given.
std::vector<CardChoice> takeCardChoices(Arguments &arguments);

// The options that choose the card, under a heading of the help or none:
// --card, --id and --virtual.
OptionGroup cardOptions(std::string heading = "");
// --virtual[=IDS] with a command's own help line.
Option virtualOption(std::string help);

// Takes --virtual[=IDS] when the command has it and, when given, sets
// KVD4093_VIRTUAL_CARDS to IDS ("0" for a bare --virtual) before the
// library reads it at its first open.
void takeVirtualOption(Arguments &arguments);

// An open card, released when it goes.
class OpenCard {
public:
    explicit OpenCard(const CardChoice &choice);
    ~OpenCard();
    OpenCard(const OpenCard &) = delete;
    OpenCard &operator=(const OpenCard &) = delete;

    KVD4093_HANDLE handle() const { return handle_; }
    int32_t logicalNumber() const { return logicalNumber_; }
    int32_t physicalId() const { return physicalId_; }
    // "card 0 (physical ID 7)"
    std::string name() const;

private:
    KVD4093_HANDLE handle_ = KVD4093_INVALID_HANDLE;
    int32_t logicalNumber_ = -1;
    int32_t physicalId_ = -1;
};

} // namespace kvd::tool
