// The software card driver: a Windows kernel driver that answers the eight
// requests of the card's driver from the card model the virtual cards use
// (firmware and sample stream), one device object per card.
//
// - Bulk writes on pipe 0 and 1 go to the firmware as command packets; bulk
//   reads on pipe 3 return its status packet; bulk reads on pipe 2 return
//   samples, paced by the clock at the configured rate.
// - Every pipe-2 read is queued; a worker thread completes it when the
//   firmware has converted its samples, when a stop ends it with what was
//   converted, or fails it when no acquisition started within 200 ms. The
//   stop's fast restart therefore completes it. Under the card's lock the
//   worker only takes the read off the queue with its range of the stream
//   (sample_ranges.h); it computes the samples after releasing the lock.
// - Pending reads can be cancelled (CancelIoEx, a closed handle).
// - The identity requests (method "neither") write the count or the logical
//   number into the caller's 4-byte input buffer, once it is known to lie in
//   the caller's memory, with a guarded store (user_buffer.h).
// - Only the system and administrators may open a card (device_access.h).
// wdm.h defines these two itself; mingw-w64's intrin.h must not define them first.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
extern "C" {
#include <ntddk.h>
// Exported by the kernel, declared by mingw-w64's ntifs.h only, which does
// not go together with ntddk.h.
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout);
NTSYSAPI NTSTATUS NTAPI ZwSetSecurityObject(HANDLE handle, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor);
NTKERNELAPI NTSTATUS NTAPI ObOpenObjectByPointer(PVOID object, ULONG attributes, PACCESS_STATE state,
                                                 ACCESS_MASK access, POBJECT_TYPE type, KPROCESSOR_MODE mode,
                                                 PHANDLE handle);
}

#include <new>

#include "card_names.h"
#include "device_access.h"
#include "card_model/driver_protocol.h"
#include "card_model/firmware.h"
#include "sample_ranges.h"
#include "user_buffer.h"

namespace {

namespace protocol = kvd::protocol;
using kvd::vcard::Firmware;
using kvd::vcard::Nanoseconds;
using kvd::testcard::SampleLedger;
using kvd::testcard::SampleRange;
namespace names = kvd::testcard;

constexpr uint64_t kStartWaitNanoseconds = 200'000'000; // a read waits this long for a start
constexpr uint32_t kNameLength = 96;

struct Card {
    Firmware firmware;
    SampleLedger samples; // pipe 2: the firmware's own stream is not read
    KSPIN_LOCK lock;
    LIST_ENTRY pendingReads; // IRPs of pipe-2 reads, oldest first
    int32_t logicalNumber;
    UNICODE_STRING link;
    WCHAR linkText[kNameLength];
};

struct Driver {
    PDEVICE_OBJECT devices[names::kMaxCards];
    int32_t cardCount;
    KEVENT wake; // a command arrived or a read was queued
    HANDLE worker;
    volatile LONG stopping;
};
Driver g_driver;

Nanoseconds monotonicNanoseconds() {
    LARGE_INTEGER frequency;
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    const uint64_t ticks = uint64_t(counter.QuadPart), perSecond = uint64_t(frequency.QuadPart);
    return ticks / perSecond * 1'000'000'000 + ticks % perSecond * 1'000'000'000 / perSecond;
}

Card *cardOf(PDEVICE_OBJECT device) { return static_cast<Card *>(device->DeviceExtension); }

// ---- what a pending read keeps in its IRP -----------------------------------------

// DriverContext[0]: the time by which a start must come; [1]: nonzero once the
// card ran while the read waited.
Nanoseconds startDeadline(PIRP irp) { return Nanoseconds(ULONG_PTR(irp->Tail.Overlay.DriverContext[0])); }
void setStartDeadline(PIRP irp, Nanoseconds deadline) { irp->Tail.Overlay.DriverContext[0] = PVOID(ULONG_PTR(deadline)); }
bool sawRunning(PIRP irp) { return irp->Tail.Overlay.DriverContext[1] != nullptr; }
void noteRunning(PIRP irp) { irp->Tail.Overlay.DriverContext[1] = irp; }

uint8_t *mappedBuffer(PIRP irp) {
    if (irp->MdlAddress == nullptr)
        return nullptr;
    return static_cast<uint8_t *>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
}

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// ---- pipe-2 reads ------------------------------------------------------------------

enum class ReadState { Done, Failed, Waiting };

// Decides whether a sample read can be served now, with the card locked, and
// if so takes its range of the stream. As on the virtual cards: all samples
// asked for once converted; after a stop what was converted; without a start
// within 200 ms, failure.
ReadState serveSamples(Card &card, PIRP irp, Nanoseconds now, SampleRange *range) {
    const Firmware &firmware = card.firmware;
    const ULONG size = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    if (firmware.running())
        noteRunning(irp);
    else if (!sawRunning(irp))
        return now >= startDeadline(irp) ? ReadState::Failed : ReadState::Waiting;
    const uint64_t wanted = (uint64_t(size) + 1) / 2;
    const uint64_t delivered = card.samples.delivered();
    const uint64_t converted = firmware.samplesConverted(now);
    uint64_t deliver = size;
    if (converted < delivered + wanted) {
        if (firmware.running())
            return ReadState::Waiting;
        deliver = (converted > delivered ? converted - delivered : 0) * 2;
        if (deliver > size)
            deliver = size;
    }
    *range = card.samples.reserve(ULONG(deliver));
    return ReadState::Done;
}

// Computes the samples of a read taken off the queue, at PASSIVE_LEVEL, and
// completes it. Its buffer was mapped when it was queued.
void completeRead(PIRP irp, const SampleRange &range) {
    uint8_t *out = mappedBuffer(irp);
    if (out == nullptr && range.bytes != 0) {
        complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        return;
    }
    range.fill(out);
    complete(irp, STATUS_SUCCESS, range.bytes);
}

void cancelRead(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    Card &card = *cardOf(device);
    KIRQL irql;
    KeAcquireSpinLock(&card.lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&card.lock, irql);
    complete(irp, STATUS_CANCELLED, 0);
}

// Completes, oldest first, the queued reads of one card that can be served;
// the time until the first that cannot, or 0 when none waits. Only the worker
// calls it, so reads complete in the order they took their ranges.
Nanoseconds serveQueuedReads(Card &card) {
    for (;;) {
        KIRQL irql;
        KeAcquireSpinLock(&card.lock, &irql);
        const Nanoseconds now = monotonicNanoseconds();
        PIRP irp = nullptr;
        ReadState state = ReadState::Waiting;
        SampleRange range;
        Nanoseconds wait = 0;
        for (PLIST_ENTRY entry = card.pendingReads.Flink; entry != &card.pendingReads; entry = entry->Flink) {
            PIRP candidate = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
            if (candidate->Cancel)
                continue; // its cancel routine takes it out
            state = serveSamples(card, candidate, now, &range);
            if (state == ReadState::Waiting) {
                const Firmware &firmware = card.firmware;
                const ULONG size = IoGetCurrentIrpStackLocation(candidate)->Parameters.DeviceIoControl.OutputBufferLength;
                const Nanoseconds ready = firmware.running()
                    ? firmware.convertedAt(card.samples.delivered() + (uint64_t(size) + 1) / 2)
                    : startDeadline(candidate);
                wait = ready > now ? ready - now : 1;
                break;
            }
            if (IoSetCancelRoutine(candidate, nullptr) == nullptr)
                continue; // being cancelled: the samples went nowhere, as for a cancelled USB read
            RemoveEntryList(entry);
            irp = candidate;
            break;
        }
        KeReleaseSpinLock(&card.lock, irql);
        if (irp == nullptr)
            return wait;
        if (state == ReadState::Done)
            completeRead(irp, range);
        else
            complete(irp, STATUS_DEVICE_NOT_READY, 0);
    }
}

// The worker: sleeps until the next queued read can be served or something
// changes, then serves what it can.
VOID NTAPI serveReadsForever(PVOID) {
    while (!g_driver.stopping) {
        Nanoseconds wait = 0;
        for (int32_t n = 0; n < g_driver.cardCount; ++n) {
            const Nanoseconds cardWait = serveQueuedReads(*cardOf(g_driver.devices[n]));
            if (cardWait != 0 && (wait == 0 || cardWait < wait))
                wait = cardWait;
        }
        LARGE_INTEGER timeout;
        timeout.QuadPart = -LONGLONG(wait / 100 + 1); // relative, in 100 ns
        KeWaitForSingleObject(&g_driver.wake, Executive, KernelMode, FALSE, wait != 0 ? &timeout : nullptr);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS queueRead(Card &card, PIRP irp, ULONG size) {
    // Mapped now, in the caller's request, so that the worker cannot fail to.
    if (mappedBuffer(irp) == nullptr && size != 0)
        return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    setStartDeadline(irp, monotonicNanoseconds() + kStartWaitNanoseconds);
    irp->Tail.Overlay.DriverContext[1] = nullptr;
    KIRQL irql;
    KeAcquireSpinLock(&card.lock, &irql);
    IoSetCancelRoutine(irp, cancelRead);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        KeReleaseSpinLock(&card.lock, irql);
        return complete(irp, STATUS_CANCELLED, 0);
    }
    IoMarkIrpPending(irp);
    InsertTailList(&card.pendingReads, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&card.lock, irql);
    KeSetEvent(&g_driver.wake, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
}

// ---- the requests ------------------------------------------------------------------

int32_t pipeOf(PIRP irp, ULONG inputSize) {
    if (inputSize < 4 || irp->AssociatedIrp.SystemBuffer == nullptr)
        return -1;
    return int32_t(protocol::readLe32(static_cast<const uint8_t *>(irp->AssociatedIrp.SystemBuffer)));
}

// A run command with a nonzero second byte: the firmware starts.
bool startsAcquisition(const uint8_t *packet, ULONG size) {
    return size >= 2 && packet[0] == protocol::kCmdAdRun && packet[1] != 0;
}

NTSTATUS bulkWrite(Card &card, PIRP irp, int32_t pipe, ULONG size) {
    if (pipe != int32_t(protocol::kPipeAdCommand) && pipe != int32_t(protocol::kPipeCommand))
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    const uint8_t *data = mappedBuffer(irp);
    if (data == nullptr && size != 0)
        return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    KIRQL irql;
    KeAcquireSpinLock(&card.lock, &irql);
    if (pipe == int32_t(protocol::kPipeAdCommand)) {
        card.firmware.takeAdCommand(data, size);
        if (startsAcquisition(data, size)) // the stream starts again at scan 0
            card.samples.restart(card.firmware.firstChannel(), card.firmware.lastChannel());
    } else {
        card.firmware.takeCommand(data, size);
    }
    KeReleaseSpinLock(&card.lock, irql);
    KeSetEvent(&g_driver.wake, IO_NO_INCREMENT, FALSE); // a start or stop may serve a waiting read
    return complete(irp, STATUS_SUCCESS, size);
}

NTSTATUS bulkRead(Card &card, PIRP irp, int32_t pipe, ULONG size) {
    if (pipe == int32_t(protocol::kPipeStatus)) {
        const ULONG statusSize = size < protocol::kPacketSize ? size : protocol::kPacketSize;
        uint8_t *out = mappedBuffer(irp);
        if (out == nullptr && statusSize != 0)
            return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        KIRQL irql;
        KeAcquireSpinLock(&card.lock, &irql);
        card.firmware.readStatus(out, statusSize);
        KeReleaseSpinLock(&card.lock, irql);
        return complete(irp, STATUS_SUCCESS, statusSize);
    }
    if (pipe != int32_t(protocol::kPipeAdData))
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    return queueRead(card, irp, size);
}

// Method "neither": the answer goes straight into the caller's input buffer,
// at the address the caller gave. This runs in the caller's thread, so the
// address means the caller's memory; a program's buffer must lie below
// MmUserProbeAddress (what ProbeForWrite checks), and the store is guarded
// as ProbeForWrite under __try would be.
NTSTATUS answerNumber(PIRP irp, ULONG inputSize, int32_t number) {
    void *input = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.Type3InputBuffer;
    if (input == nullptr || inputSize < 4)
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    if (irp->RequestorMode != KernelMode && !names::liesBelow(uintptr_t(input), 4, MmUserProbeAddress))
        return complete(irp, STATUS_ACCESS_VIOLATION, 0);
    if (!kvdStoreGuarded(input, uint32_t(number)))
        return complete(irp, STATUS_ACCESS_VIOLATION, 0);
    return complete(irp, STATUS_SUCCESS, 4);
}

NTSTATUS NTAPI deviceControl(PDEVICE_OBJECT device, PIRP irp) {
    Card &card = *cardOf(device);
    const auto &parameters = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl;
    const ULONG inputSize = parameters.InputBufferLength, outputSize = parameters.OutputBufferLength;
    switch (parameters.IoControlCode) {
    case protocol::kBulkWrite: return bulkWrite(card, irp, pipeOf(irp, inputSize), outputSize);
    case protocol::kBulkRead: return bulkRead(card, irp, pipeOf(irp, inputSize), outputSize);
    case protocol::kGetDeviceCount: return answerNumber(irp, inputSize, g_driver.cardCount);
    case protocol::kGetCurrentId: return answerNumber(irp, inputSize, card.logicalNumber);
    case protocol::kSetInterface:
        return complete(irp, inputSize >= 2 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER, 0);
    case protocol::kUsbReset:
    case protocol::kCreateLowFile:
    case protocol::kCloseLowFile: return complete(irp, STATUS_SUCCESS, 0);
    default: return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

NTSTATUS NTAPI openOrClose(PDEVICE_OBJECT, PIRP irp) { return complete(irp, STATUS_SUCCESS, 0); }

// The last handle of a file is closing: its reads still queued end cancelled.
NTSTATUS NTAPI cleanup(PDEVICE_OBJECT device, PIRP irp) {
    Card &card = *cardOf(device);
    const PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    LIST_ENTRY ended;
    InitializeListHead(&ended);
    KIRQL irql;
    KeAcquireSpinLock(&card.lock, &irql);
    for (PLIST_ENTRY entry = card.pendingReads.Flink; entry != &card.pendingReads;) {
        PIRP read = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        entry = entry->Flink;
        if (IoGetCurrentIrpStackLocation(read)->FileObject != file || IoSetCancelRoutine(read, nullptr) == nullptr)
            continue;
        RemoveEntryList(&read->Tail.Overlay.ListEntry);
        InsertTailList(&ended, &read->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&card.lock, irql);
    while (!IsListEmpty(&ended))
        complete(CONTAINING_RECORD(RemoveHeadList(&ended), IRP, Tail.Overlay.ListEntry), STATUS_CANCELLED, 0);
    return complete(irp, STATUS_SUCCESS, 0);
}

// ---- loading and unloading ------------------------------------------------------------

// "prefix" followed by the number in `digits` decimal digits.
void formatName(WCHAR (&text)[kNameLength], const WCHAR *prefix, uint32_t number, int digits, const WCHAR *suffix,
                UNICODE_STRING *name) {
    int length = 0;
    for (; *prefix != 0; ++prefix)
        text[length++] = *prefix;
    for (int d = digits - 1; d >= 0; --d) {
        text[length + d] = WCHAR(L'0' + number % 10);
        number /= 10;
    }
    length += digits;
    for (; suffix != nullptr && *suffix != 0; ++suffix)
        text[length++] = *suffix;
    text[length] = 0;
    RtlInitUnicodeString(name, text);
}

// The physical IDs the service key lists; how many.
int32_t readPhysicalIds(PUNICODE_STRING registryPath, uint8_t (&ids)[names::kMaxCards]) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key;
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes)))
        return 0;
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, names::kPhysicalIdsValueWide);
    union {
        KEY_VALUE_PARTIAL_INFORMATION information;
        uint8_t bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + names::kMaxCards];
    } value;
    ULONG length = 0;
    const NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, &value, sizeof value, &length);
    ZwClose(key);
    if (!NT_SUCCESS(status) || value.information.Type != REG_BINARY)
        return 0;
    const ULONG count = value.information.DataLength < names::kMaxCards ? value.information.DataLength : names::kMaxCards;
    for (ULONG n = 0; n < count; ++n)
        ids[n] = value.information.Data[n];
    return int32_t(count);
}

VOID NTAPI unload(PDRIVER_OBJECT) {
    InterlockedExchange(&g_driver.stopping, 1);
    KeSetEvent(&g_driver.wake, IO_NO_INCREMENT, FALSE);
    if (g_driver.worker != nullptr) {
        ZwWaitForSingleObject(g_driver.worker, FALSE, nullptr);
        ZwClose(g_driver.worker);
    }
    for (int32_t n = 0; n < g_driver.cardCount; ++n) {
        IoDeleteSymbolicLink(&cardOf(g_driver.devices[n])->link);
        IoDeleteDevice(g_driver.devices[n]);
    }
}

// Gives the device the card's security descriptor, which admits the system
// and administrators only, in place of the default one.
NTSTATUS admitAdministratorsOnly(PDEVICE_OBJECT device) {
    HANDLE handle;
    NTSTATUS status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr, KernelMode, &handle);
    if (!NT_SUCCESS(status))
        return status;
    static names::SecurityDescriptorBytes descriptor = names::kCardSecurityDescriptor;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, descriptor.bytes);
    ZwClose(handle);
    return status;
}

NTSTATUS createCard(PDRIVER_OBJECT driver, int32_t logicalNumber, uint8_t physicalId) {
    WCHAR deviceText[kNameLength];
    UNICODE_STRING deviceName;
    formatName(deviceText, names::kDeviceObjectPrefix, uint32_t(logicalNumber), 2, nullptr, &deviceName);
    PDEVICE_OBJECT device;
    // FILE_DEVICE_SECURE_OPEN: the descriptor also guards names below the
    // device's (\Device\KVD4093Card00\anything).
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(Card), &deviceName, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    status = admitAdministratorsOnly(device);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    Card *card = new (device->DeviceExtension)
        Card{Firmware(physicalId, &monotonicNanoseconds), SampleLedger(), {}, {}, logicalNumber, {}, {}};
    KeInitializeSpinLock(&card->lock);
    InitializeListHead(&card->pendingReads);
    formatName(card->linkText, names::kDosDevicePrefix, uint32_t(logicalNumber), 4, L"#", &card->link);
    // The interface name ends with the class: append it after the '#'.
    WCHAR *end = card->linkText + card->link.Length / sizeof(WCHAR);
    for (const WCHAR *c = names::kClassTextWide; *c != 0; ++c)
        *end++ = *c;
    *end = 0;
    RtlInitUnicodeString(&card->link, card->linkText);
    status = IoCreateSymbolicLink(&card->link, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    device->Flags |= DO_DIRECT_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    g_driver.devices[g_driver.cardCount++] = device;
    return STATUS_SUCCESS;
}

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    uint8_t ids[names::kMaxCards];
    const int32_t count = readPhysicalIds(registryPath, ids);
    KeInitializeEvent(&g_driver.wake, SynchronizationEvent, FALSE);
    driver->DriverUnload = unload;
    driver->MajorFunction[IRP_MJ_CREATE] = openOrClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = openOrClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = cleanup;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = deviceControl;
    for (int32_t n = 0; n < count; ++n) {
        const NTSTATUS status = createCard(driver, n, ids[n]);
        if (!NT_SUCCESS(status)) {
            unload(driver);
            return status;
        }
    }
    const NTSTATUS status =
        PsCreateSystemThread(&g_driver.worker, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, serveReadsForever, nullptr);
    if (!NT_SUCCESS(status)) {
        g_driver.worker = nullptr;
        unload(driver);
    }
    return status;
}
