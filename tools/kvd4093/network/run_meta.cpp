#include "network/run_meta.h"

#include <cstdio>
#include <random>

#include <nlohmann/json.hpp>

#include "common/errors.h"
#include "common/version.h"
#include "network/block_message.h"
#include "output/sidecar.h"

namespace kvd::tool {
namespace {

using Json = nlohmann::ordered_json;

} // namespace

std::string runIdText(uint64_t runId) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(runId));
    return text;
}

uint64_t newRunId() {
    std::random_device source;
    return uint64_t(source()) << 32 | source();
}

std::string runMetaText(const RunMeta &meta) {
    Json document = Json::parse(runDescriptionText(meta.info));
    document["run_id"] = runIdText(meta.runId);
    document["host"] = meta.host;
    document["tool_version"] = toolVersion();
    document["block_format"] = kBlockFormatVersion;
    return document.dump();
}

RunMeta readRunMeta(const std::string &shownAs, const std::string &text) {
    RunMeta meta;
    meta.info = readRunDescription(shownAs, text);
    const Json document = Json::parse(text);
    const auto member = [&](const char *name) -> const Json & {
        const auto found = document.find(name);
        if (found == document.end() || !found->is_string())
            throw ToolError(shownAs + ": \"" + name + "\" is missing or not text");
        return *found;
    };
    const std::string id = member("run_id").get<std::string>();
    size_t used = 0;
    try {
        meta.runId = std::stoull(id, &used, 16);
    } catch (const std::exception &) {
        used = 0;
    }
    if (id.size() != 16 || used != id.size())
        throw ToolError(shownAs + ": \"run_id\" is not 16 hexadecimal digits");
    meta.host = member("host").get<std::string>();
    return meta;
}

} // namespace kvd::tool
