// The card's driver on the USB card backend. Pipe n is the n-th endpoint of the
// selected alternate setting, in descriptor order; bulk requests are libusb
// transfers without a time limit, so a read of AD data waits for its data as
// long as the card takes, and only a stop, a close or an unplug ends it early.
#include "platform/usb/usb_driver_file.h"

#include <algorithm>

#include "card_model/driver_protocol.h"
#include "platform/usb/usb_devices.h"

namespace kvd::platform::usb {
namespace {

constexpr uint32_t kIdentitySize = 4;
constexpr uint32_t kPipeWordSize = 4;
constexpr uint32_t kInterfaceSize = 2;

void answerNumber(void *input, uint32_t number, uint32_t *bytesReturned) {
    auto *bytes = static_cast<uint8_t *>(input);
    for (uint32_t i = 0; i < kIdentitySize; ++i)
        bytes[i] = static_cast<uint8_t>(number >> (8 * i));
    *bytesReturned = kIdentitySize;
}

void LIBUSB_CALL transferDone(libusb_transfer *transfer) { *static_cast<int *>(transfer->user_data) = 1; }

// The endpoints of one alternate setting, in descriptor order.
std::vector<uint8_t> endpointsOf(libusb_device_handle *handle, uint8_t interfaceNumber, uint8_t alternateSetting,
                                 bool *found) {
    std::vector<uint8_t> endpoints;
    *found = false;
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(libusb_get_device(handle), &config) != 0)
        return endpoints;
    for (uint8_t i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor &setting = interface.altsetting[a];
            if (setting.bInterfaceNumber != interfaceNumber || setting.bAlternateSetting != alternateSetting)
                continue;
            for (uint8_t e = 0; e < setting.bNumEndpoints; ++e)
                endpoints.push_back(setting.endpoint[e].bEndpointAddress);
            *found = true;
        }
    }
    libusb_free_config_descriptor(config);
    return endpoints;
}

} // namespace

DriverFile::DriverFile(libusb_device_handle *handle, int32_t logicalNumber)
    : handle_(handle), logicalNumber_(logicalNumber) {
    libusb_set_auto_detach_kernel_driver(handle_, 1);
}

DriverFile::~DriverFile() {
    if (claimed_ >= 0)
        libusb_release_interface(handle_, claimed_);
    libusb_close(handle_);
}

bool DriverFile::enter() {
    std::lock_guard lock(mutex_);
    if (shut_)
        return false;
    ++running_;
    return true;
}

void DriverFile::leave() {
    std::lock_guard lock(mutex_);
    if (--running_ == 0)
        idle_.notify_all();
}

void DriverFile::cancel() {
    std::lock_guard lock(mutex_);
    for (libusb_transfer *transfer : inFlight_)
        libusb_cancel_transfer(transfer);
}

void DriverFile::shut() {
    std::unique_lock lock(mutex_);
    shut_ = true;
    for (libusb_transfer *transfer : inFlight_)
        libusb_cancel_transfer(transfer);
    idle_.wait(lock, [&] { return running_ == 0; });
}

void DriverFile::noteFailure(int libusbError) {
    if (libusbError == LIBUSB_ERROR_NO_DEVICE)
        gone_ = true;
}

int32_t DriverFile::request(uint32_t code, void *input, uint32_t inputSize, void *output, uint32_t outputSize,
                            uint32_t *bytesReturned) {
    *bytesReturned = 0;
    if ((input == nullptr && inputSize != 0) || (output == nullptr && outputSize != 0))
        return 0;
    if (!enter())
        return 0;
    bool done = false;
    if (!gone_) {
        switch (code) {
        case protocol::kBulkRead:
        case protocol::kBulkWrite:
            done = inputSize >= kPipeWordSize &&
                   bulk(code == protocol::kBulkRead, protocol::readLe32(static_cast<const uint8_t *>(input)), output,
                        outputSize, bytesReturned);
            break;
        case protocol::kGetDeviceCount:
            if ((done = inputSize >= kIdentitySize))
                answerNumber(input, static_cast<uint32_t>(MatchingDevices().devices().size()), bytesReturned);
            break;
        case protocol::kGetCurrentId:
            if ((done = inputSize >= kIdentitySize))
                answerNumber(input, static_cast<uint32_t>(logicalNumber_), bytesReturned);
            break;
        case protocol::kSetInterface: {
            const auto *bytes = static_cast<const uint8_t *>(input);
            done = inputSize >= kInterfaceSize && selectSetting(bytes[0], bytes[1]);
            break;
        }
        case protocol::kUsbReset: done = resetPort(); break;
        case protocol::kCreateLowFile:
        case protocol::kCloseLowFile: done = true; break;
        default: break;
        }
    }
    leave();
    return done ? 1 : 0;
}

bool DriverFile::claimLocked(uint8_t interfaceNumber) {
    if (claimed_ == interfaceNumber)
        return true;
    const int result = libusb_claim_interface(handle_, interfaceNumber);
    if (result != 0) {
        noteFailure(result);
        return false;
    }
    if (claimed_ >= 0)
        libusb_release_interface(handle_, claimed_);
    claimed_ = interfaceNumber;
    return true;
}

bool DriverFile::selectSetting(uint8_t interfaceNumber, uint8_t alternateSetting) {
    std::lock_guard lock(mutex_);
    if (!claimLocked(interfaceNumber))
        return false;
    const int result = libusb_set_interface_alt_setting(handle_, interfaceNumber, alternateSetting);
    if (result != 0) {
        noteFailure(result);
        return false;
    }
    interface_ = interfaceNumber;
    alternateSetting_ = alternateSetting;
    endpoints_ = endpointsOf(handle_, interface_, alternateSetting_, &endpointsKnown_);
    return true;
}

bool DriverFile::resetPort() {
    const int result = libusb_reset_device(handle_);
    noteFailure(result);
    return result == 0;
}

// Until an interface setting is selected, the pipes are the endpoints of
// interface 0 in its setting 0, which the card takes when configured.
bool DriverFile::endpointOf(uint32_t pipe, bool read, uint8_t *endpoint) {
    std::lock_guard lock(mutex_);
    if (!endpointsKnown_)
        endpoints_ = endpointsOf(handle_, interface_, alternateSetting_, &endpointsKnown_);
    if (pipe >= endpoints_.size() || !claimLocked(interface_))
        return false;
    *endpoint = endpoints_[pipe];
    return ((*endpoint & LIBUSB_ENDPOINT_IN) != 0) == read;
}

int DriverFile::submitLocked(libusb_transfer *transfer) {
    std::lock_guard lock(mutex_);
    if (shut_)
        return LIBUSB_ERROR_INTERRUPTED;
    const int result = libusb_submit_transfer(transfer);
    if (result == 0)
        inFlight_.push_back(transfer);
    return result;
}

void DriverFile::forget(libusb_transfer *transfer) {
    std::lock_guard lock(mutex_);
    inFlight_.erase(std::find(inFlight_.begin(), inFlight_.end(), transfer));
}

bool DriverFile::bulk(bool read, uint32_t pipe, void *data, uint32_t size, uint32_t *bytesReturned) {
    uint8_t endpoint = 0;
    if (!endpointOf(pipe, read, &endpoint))
        return false;
    libusb_transfer *transfer = libusb_alloc_transfer(0);
    if (transfer == nullptr)
        return false;
    int completed = 0;
    libusb_fill_bulk_transfer(transfer, handle_, endpoint, static_cast<unsigned char *>(data), static_cast<int>(size),
                              &transferDone, &completed, 0);
    const int submitted = submitLocked(transfer);
    if (submitted != 0) {
        noteFailure(submitted);
        libusb_free_transfer(transfer);
        return false;
    }
    while (!completed) {
        if (libusb_handle_events_completed(context(), &completed) < 0)
            libusb_cancel_transfer(transfer);
    }
    forget(transfer);
    const bool success = transfer->status == LIBUSB_TRANSFER_COMPLETED;
    if (transfer->status == LIBUSB_TRANSFER_NO_DEVICE)
        gone_ = true;
    if (success)
        *bytesReturned = static_cast<uint32_t>(transfer->actual_length);
    libusb_free_transfer(transfer);
    return success;
}

} // namespace kvd::platform::usb
