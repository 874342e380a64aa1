#include "network/topics.h"

#include <algorithm>

#include "common/errors.h"

namespace kvd::tool {
namespace {

bool isNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

} // namespace

std::string sourceId(const AcquisitionInfo &info) {
    if (info.groupCards.empty())
        return std::to_string(info.physicalId);
    std::string id;
    for (const GroupCard &card : info.groupCards)
        id += (id.empty() ? "" : "_") + std::to_string(card.physicalId);
    return id;
}

void checkTopicLevel(std::string_view name, std::string_view what) {
    if (name.empty() || !std::all_of(name.begin(), name.end(), isNameCharacter))
        throw UsageError(std::string(what) + ": \"" + std::string(name) +
                         "\" is not a name of letters, digits, '.', '-' and '_'");
}

void checkPrefix(std::string_view prefix, std::string_view what) {
    const bool wildcard = prefix.find_first_of("+#") != std::string_view::npos;
    if (prefix.empty() || wildcard || prefix.front() == '/' || prefix.back() == '/' ||
        prefix.find("//") != std::string_view::npos)
        throw UsageError(std::string(what) + ": \"" + std::string(prefix) +
                         "\" is not a topic prefix such as lab or lab/bench1 (no wildcard, no empty level)");
}

std::string sourceTopic(const std::string &prefix, const std::string &host, const std::string &id) {
    return prefix + "/" + host + "/" + id;
}

std::optional<StreamTopic> splitTopic(std::string_view topic, std::string_view prefix) {
    if (topic.size() <= prefix.size() + 1 || topic.substr(0, prefix.size()) != prefix || topic[prefix.size()] != '/')
        return std::nullopt;
    const std::string_view levels = topic.substr(prefix.size() + 1);
    const size_t first = levels.find('/');
    const size_t second = first == std::string_view::npos ? first : levels.find('/', first + 1);
    if (second == std::string_view::npos || levels.find('/', second + 1) != std::string_view::npos)
        return std::nullopt;
    StreamTopic split;
    split.host = std::string(levels.substr(0, first));
    split.id = std::string(levels.substr(first + 1, second - first - 1));
    split.kind = std::string(levels.substr(second + 1));
    split.source = split.host + "/" + split.id;
    return split;
}

} // namespace kvd::tool
