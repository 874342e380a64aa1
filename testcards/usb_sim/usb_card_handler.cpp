// The usbfs side of an emulated card. umockdev calls handle_ioctl on its
// worker thread for every ioctl a client makes on the card's device file;
// URBs go to the UrbEngine and come back through the reap requests.
#include "usb_card_handler.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

namespace kvd::usbsim {
namespace {

// A URB's memory as the client sees it, held until the URB is reaped.
struct ClientUrb {
    UMockdevIoctlData *urb = nullptr;
    UMockdevIoctlData *buffer = nullptr;
};

struct HandlerState {
    UrbEngine *engine = nullptr;
    std::map<UrbName, ClientUrb> urbs;
};

// Each open of the device file is a client of its own.
uint64_t ownerOf(UMockdevIoctlClient *client) { return reinterpret_cast<uintptr_t>(client); }

void dropUrb(ClientUrb &urb) {
    g_object_unref(urb.buffer);
    g_object_unref(urb.urb);
}

constexpr uint32_t kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

} // namespace
} // namespace kvd::usbsim

extern "C" {

struct KvdUsbCardHandler {
    UMockdevIoctlBase parent;
    kvd::usbsim::HandlerState *state;
};
struct KvdUsbCardHandlerClass {
    UMockdevIoctlBaseClass parent_class;
};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
#endif
G_DEFINE_TYPE(KvdUsbCardHandler, kvd_usb_card_handler, UMOCKDEV_TYPE_IOCTL_BASE)
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

} // extern "C"

namespace kvd::usbsim {
namespace {

HandlerState &stateOf(UMockdevIoctlBase *base) { return *reinterpret_cast<KvdUsbCardHandler *>(base)->state; }

// The client's memory at the ioctl's argument; nullptr when it cannot be read.
UMockdevIoctlData *argument(UMockdevIoctlClient *client, size_t size) {
    return umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, nullptr);
}

void finish(UMockdevIoctlClient *client, int error) { umockdev_ioctl_client_complete(client, error ? -1 : 0, error); }

int submit(HandlerState &state, uint64_t owner, UMockdevIoctlData *data) {
    auto *urb = reinterpret_cast<usbdevfs_urb *>(data->data);
    if (urb->type != USBDEVFS_URB_TYPE_BULK || urb->buffer_length < 0)
        return EINVAL;
    UMockdevIoctlData *buffer = umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                                            size_t(urb->buffer_length), nullptr);
    if (buffer == nullptr)
        return EFAULT;
    const bool in = (urb->endpoint & 0x80) != 0;
    std::vector<uint8_t> out;
    if (!in)
        out.assign(buffer->data, buffer->data + urb->buffer_length);
    const UrbName name{owner, data->client_addr};
    const int error = state.engine->submit(name, urb->endpoint, std::move(out),
                                           in ? uint32_t(urb->buffer_length) : 0);
    if (error) {
        g_object_unref(buffer);
        return error;
    }
    state.urbs[name] = ClientUrb{UMOCKDEV_IOCTL_DATA(g_object_ref(data)), buffer};
    return 0;
}

// Hands the oldest finished URB back through the client's pointer at `slot`.
int reap(HandlerState &state, uint64_t owner, UMockdevIoctlData *slot) {
    int error = 0;
    std::optional<FinishedUrb> finished = state.engine->reap(owner, &error);
    if (!finished)
        return error;
    const auto found = state.urbs.find(finished->id);
    if (found == state.urbs.end())
        return EAGAIN;
    ClientUrb client = found->second;
    state.urbs.erase(found);
    auto *urb = reinterpret_cast<usbdevfs_urb *>(client.urb->data);
    urb->status = finished->status;
    urb->actual_length = int(finished->actualLength);
    if (!finished->data.empty())
        std::memcpy(client.buffer->data, finished->data.data(), finished->data.size());
    umockdev_ioctl_data_set_ptr(slot, 0, client.urb);
    dropUrb(client);
    return 0;
}

// The number an ioctl passes by pointer (an interface, an endpoint).
uint32_t numberIn(UMockdevIoctlData *data) { return *reinterpret_cast<const uint32_t *>(data->data); }

// Which driver holds an interface: usbfs, for a program that claimed it.
int driverOf(UrbEngine &engine, UMockdevIoctlData *data) {
    if (int error = engine.present())
        return error;
    auto *driver = reinterpret_cast<usbdevfs_getdriver *>(data->data);
    if (!engine.claimed(driver->interface))
        return ENODATA; // no driver bound
    std::snprintf(driver->driver, sizeof driver->driver, "usbfs");
    return 0;
}

int answer(HandlerState &state, UMockdevIoctlClient *client, UMockdevIoctlData *data) {
    UrbEngine &engine = *state.engine;
    const uint64_t owner = ownerOf(client);
    switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_GET_CAPABILITIES:
        *reinterpret_cast<uint32_t *>(data->data) = kCapabilities;
        return 0;
    case USBDEVFS_CLAIMINTERFACE: return engine.claim(owner, numberIn(data));
    case USBDEVFS_RELEASEINTERFACE: return engine.release(owner, numberIn(data));
    case USBDEVFS_CLEAR_HALT: return engine.clearHalt(owner, uint8_t(numberIn(data)));
    case USBDEVFS_RESETEP: return engine.present();
    case USBDEVFS_GETDRIVER: return driverOf(engine, data);
    case USBDEVFS_IOCTL: return engine.present() ? ENODEV : ENODATA; // no kernel driver bound, none to detach
    case USBDEVFS_SETINTERFACE: {
        const auto *setting = reinterpret_cast<const usbdevfs_setinterface *>(data->data);
        return engine.setInterface(owner, setting->interface, setting->altsetting);
    }
    case USBDEVFS_RESET: return engine.reset();
    case USBDEVFS_SUBMITURB: return submit(state, owner, data);
    case USBDEVFS_DISCARDURB:
        return engine.discard(
            UrbName{owner, *reinterpret_cast<const unsigned long *>(umockdev_ioctl_client_get_arg(client)->data)});
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: return reap(state, owner, data);
    default: return ENOTTY;
    }
}

gboolean handleIoctl(UMockdevIoctlBase *base, UMockdevIoctlClient *client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *data = nullptr;
    if (_IOC_SIZE(request) != 0 && (data = argument(client, _IOC_SIZE(request))) == nullptr) {
        finish(client, EFAULT);
        return TRUE;
    }
    finish(client, answer(stateOf(base), client, data));
    if (data != nullptr)
        g_object_unref(data);
    return TRUE;
}

// The program closed the device file: what it submitted is of no use any more.
void clientVanished(UMockdevIoctlBase *base, UMockdevIoctlClient *client) {
    HandlerState &state = stateOf(base);
    const uint64_t owner = ownerOf(client);
    state.engine->forget(owner);
    for (auto urb = state.urbs.begin(); urb != state.urbs.end();) {
        if (urb->first.owner != owner) {
            ++urb;
            continue;
        }
        dropUrb(urb->second);
        urb = state.urbs.erase(urb);
    }
}

} // namespace

UMockdevIoctlBase *newUsbCardHandler(UrbEngine *engine) {
    auto *handler = static_cast<KvdUsbCardHandler *>(g_object_new(kvd_usb_card_handler_get_type(), nullptr));
    handler->state->engine = engine;
    return UMOCKDEV_IOCTL_BASE(handler);
}

} // namespace kvd::usbsim

extern "C" {

static void kvd_usb_card_handler_finalize(GObject *object) {
    auto *handler = reinterpret_cast<KvdUsbCardHandler *>(object);
    for (auto &[name, urb] : handler->state->urbs)
        kvd::usbsim::dropUrb(urb);
    delete handler->state;
    G_OBJECT_CLASS(kvd_usb_card_handler_parent_class)->finalize(object);
}

static void kvd_usb_card_handler_class_init(KvdUsbCardHandlerClass *klass) {
    UMOCKDEV_IOCTL_BASE_CLASS(klass)->handle_ioctl = &kvd::usbsim::handleIoctl;
    UMOCKDEV_IOCTL_BASE_CLASS(klass)->client_vanished = &kvd::usbsim::clientVanished;
    G_OBJECT_CLASS(klass)->finalize = &kvd_usb_card_handler_finalize;
}

static void kvd_usb_card_handler_init(KvdUsbCardHandler *handler) { handler->state = new kvd::usbsim::HandlerState; }

} // extern "C"
