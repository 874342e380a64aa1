// The library's only way to a card: opening and closing driver files, the
// driver requests, and the bulk transfers with their pipe words.
#pragma once

#include <cstdint>

#include "KVD4093.h"
#include "device/device_object.h"

namespace kvd::device {

// Opens the card at a logical number through the active card backend.
// On success fills *driver and sets *status to 0; else returns false with
// the backend's status code.
bool openDriver(int32_t logicalNumber, uint32_t *status, DriverFile *driver);
// What a release did with a handle.
enum class Release {
    NotLive, // the handle was not live: nothing done
    Kept,    // the calls on it did not end in time, or its driver file would
             // not close: the file stays open and usable, the handle live
    Freed,   // the driver file is closed and the record freed
};
// Releases a handle, step by step: takes it out of the live set, so no new
// call starts on it; ends what waits in the driver; waits (at most five
// seconds) until no other call holds the record; closes the driver file;
// frees the record. Logs nothing.
Release releaseHandle(KVD4093_HANDLE handle);
// The same for records no caller has seen, where what it did is of no interest.
void discardDevice(KVD4093_HANDLE handle);

// Makes one driver request on the record's driver file and traces it.
// Returns the request's own truth value unchanged.
int32_t driverRequest(DeviceObject &device, uint32_t code, void *input, uint32_t inputSize, void *output,
                      uint32_t outputSize, uint32_t *bytesReturned);

// A bulk transfer on an already validated record: the pipe word as input,
// the caller's buffer as output. 1 when the request returned exactly 1, else 0.
int32_t bulkRead(DeviceObject &device, uint32_t pipe, void *buffer, uint32_t size, uint32_t *bytesReturned);
int32_t bulkWrite(DeviceObject &device, uint32_t pipe, const void *buffer, uint32_t size, uint32_t *bytesReturned);

// The same behind the handle test: a dead handle gives 0 and makes no request.
int32_t bulkRead(KVD4093_HANDLE handle, uint32_t pipe, void *buffer, uint32_t size, uint32_t *bytesReturned);
int32_t bulkWrite(KVD4093_HANDLE handle, uint32_t pipe, const void *buffer, uint32_t size, uint32_t *bytesReturned);

// Sends the first two bytes of value (least significant first); 1 or 0.
int32_t setInterface(KVD4093_HANDLE handle, uint32_t value);
// Resets the card's USB port; a failure shows " 复位USB端口失败" once. 1 or 0.
int32_t usbReset(KVD4093_HANDLE handle);
// The low-file requests; the request's truth value unchanged, 0 for a dead handle.
int32_t createLowFile(KVD4093_HANDLE handle);
int32_t closeLowFile(KVD4093_HANDLE handle);

} // namespace kvd::device
