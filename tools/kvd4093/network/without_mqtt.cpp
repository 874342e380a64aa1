// The MQTT side of a build without libmosquitto: it says what is missing.
#include "common/errors.h"
#include "network/network.h"

namespace kvd::tool {
namespace {

[[noreturn]] void lacking(const char *what) {
    throw ToolError(std::string("this kvd4093 was built without libmosquitto, so it cannot ") + what +
                    " (Debian: apt-get install libmosquitto-dev, then build again)");
}

} // namespace

std::unique_ptr<SampleSink> openPublisher(const PublishRequest &, const AcquisitionInfo &, double, std::FILE *) {
    lacking("publish to an MQTT broker");
}

int collect(const CollectRequest &) { lacking("collect from an MQTT broker"); }

} // namespace kvd::tool
