#include "platform/virtual/driver_request.h"

#include "card_model/driver_protocol.h"

namespace kvd::vcard {
namespace {

constexpr uint32_t kPipeWordSize = 4;
constexpr uint32_t kIdentitySize = 4;
constexpr uint32_t kInterfaceSize = 2;

std::vector<uint8_t> bytesOf(const void *data, uint32_t size) {
    if (data == nullptr)
        return {};
    const auto *bytes = static_cast<const uint8_t *>(data);
    return {bytes, bytes + size};
}

bool buffersPresent(const DriverRequest &request) {
    return request.bytesReturned != nullptr && (request.input != nullptr || request.inputSize == 0) &&
           (request.output != nullptr || request.outputSize == 0);
}

bool readsFrom(int32_t pipe) { return pipe == protocol::kPipeAdData || pipe == protocol::kPipeStatus; }
bool writesTo(int32_t pipe) { return pipe == protocol::kPipeAdCommand || pipe == protocol::kPipeCommand; }

} // namespace

int32_t pipeOf(const DriverRequest &request) {
    if (!protocol::isBulk(request.code) || request.input == nullptr || request.inputSize < kPipeWordSize)
        return -1;
    return static_cast<int32_t>(protocol::readLe32(static_cast<const uint8_t *>(request.input)));
}

Request describe(const DriverRequest &request) {
    Request described;
    described.code = request.code;
    described.pipe = pipeOf(request);
    if (request.code == protocol::kBulkWrite)
        described.sent = bytesOf(request.output, request.outputSize);
    else if (request.code == protocol::kSetInterface)
        described.sent = bytesOf(request.input, request.inputSize);
    described.asked = protocol::isBulk(request.code) ? request.outputSize : request.inputSize;
    return described;
}

bool wellFormed(const DriverRequest &request) {
    if (!buffersPresent(request))
        return false;
    switch (request.code) {
    case protocol::kGetDeviceCount:
    case protocol::kGetCurrentId: return request.inputSize >= kIdentitySize;
    case protocol::kSetInterface: return request.inputSize >= kInterfaceSize;
    case protocol::kUsbReset:
    case protocol::kCreateLowFile:
    case protocol::kCloseLowFile: return true;
    case protocol::kBulkRead: return readsFrom(pipeOf(request));
    case protocol::kBulkWrite: return writesTo(pipeOf(request));
    default: return false;
    }
}

} // namespace kvd::vcard
