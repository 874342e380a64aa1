// One virtual card opened for a benchmark run, with request listing off so
// that millions of requests neither allocate nor grow.
#pragma once

#include "KVD4093.h"
#include "device/device_object.h"
#include "device/transport.h"
#include "platform/virtual/virtual_card.h"

namespace kvd::bench {

struct VirtualCardFixture {
    VirtualCardFixture() {
        vcard::install({7});
        vcard::card(0).setRecording(false);
        uint32_t status = 0;
        device::openDriver(0, &status, &driver);
        handle = device::createDeviceObject(driver).get();
    }
    // A request made straight on the backend, as the library would frame it.
    int32_t request(uint32_t code, uint32_t pipe, void *data, uint32_t size) {
        uint8_t pipeWord[4] = {static_cast<uint8_t>(pipe), 0, 0, 0};
        uint32_t returned = 0;
        return driver.backend->request(driver.file, code, pipeWord, 4, data, size, &returned);
    }
    device::DriverFile driver;
    KVD4093_HANDLE handle = nullptr;
};

inline VirtualCardFixture &virtualCard() {
    static VirtualCardFixture fixture;
    return fixture;
}

} // namespace kvd::bench
