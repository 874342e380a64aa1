// What passes between the library and the card's driver and firmware: the
// driver request codes, the pipes, the packet size and the status layout.
// Both sides of the seam use it: the library's packet code above, every card
// backend (the virtual card included) below.
#pragma once

#include <cstdint>

namespace kvd::protocol {

// Device-control codes: device type 0x22, any access, the function numbers
// and transfer methods the driver defines.
constexpr uint32_t controlCode(uint32_t function, uint32_t method) {
    return (0x22u << 16) | (function << 2) | method;
}
constexpr uint32_t kMethodBuffered = 0;
constexpr uint32_t kMethodInDirect = 1;
constexpr uint32_t kMethodOutDirect = 2;
constexpr uint32_t kMethodNeither = 3;

constexpr uint32_t kUsbReset = controlCode(0x80c, kMethodInDirect);
constexpr uint32_t kSetInterface = controlCode(0x810, kMethodBuffered);
constexpr uint32_t kBulkRead = controlCode(0x813, kMethodOutDirect);
constexpr uint32_t kBulkWrite = controlCode(0x814, kMethodInDirect);
constexpr uint32_t kGetCurrentId = controlCode(0x823, kMethodNeither);
constexpr uint32_t kGetDeviceCount = controlCode(0x824, kMethodNeither);
constexpr uint32_t kCreateLowFile = controlCode(0x825, kMethodNeither);
constexpr uint32_t kCloseLowFile = controlCode(0x828, kMethodNeither);

static_assert(kUsbReset == 0x00222031);
static_assert(kSetInterface == 0x00222040);
static_assert(kBulkRead == 0x0022204E);
static_assert(kBulkWrite == 0x00222051);
static_assert(kGetCurrentId == 0x0022208F);
static_assert(kGetDeviceCount == 0x00222093);
static_assert(kCreateLowFile == 0x00222097);
static_assert(kCloseLowFile == 0x002220A3);

// The request's name as the trace prints it; nullptr for an unknown code.
constexpr const char *requestName(uint32_t code) {
    switch (code) {
    case kUsbReset: return "USB_RESET";
    case kSetInterface: return "SET_INTERFACE";
    case kBulkRead: return "BULK_READ";
    case kBulkWrite: return "BULK_WRITE";
    case kGetCurrentId: return "GET_CURRENT_ID";
    case kGetDeviceCount: return "GET_DEVICE_COUNT";
    case kCreateLowFile: return "CREATE_LOW_FILE";
    case kCloseLowFile: return "CLOSE_LOW_FILE";
    default: return nullptr;
    }
}

constexpr bool isBulk(uint32_t code) { return code == kBulkRead || code == kBulkWrite; }

// Pipes.
constexpr uint32_t kPipeAdCommand = 0;
constexpr uint32_t kPipeCommand = 1;
constexpr uint32_t kPipeAdData = 2;
constexpr uint32_t kPipeStatus = 3;

// Command and status packets are 512 bytes.
constexpr uint32_t kPacketSize = 512;

// Command codes, read per pipe.
constexpr uint8_t kCmdDaWord = 0x01;    // pipe 1
constexpr uint8_t kCmdSetDo = 0x03;     // pipe 1
constexpr uint8_t kCmdTrigLevel = 0x04; // pipe 1
constexpr uint8_t kCmdAdRange = 0x01;   // pipe 0
constexpr uint8_t kCmdAdConfig = 0x02;  // pipe 0
constexpr uint8_t kCmdAdRun = 0x03;     // pipe 0

// Status packet layout.
constexpr uint32_t kStatusDiLow = 0;
constexpr uint32_t kStatusDiHigh = 1;
constexpr uint32_t kStatusPhysicalId = 17;
constexpr uint32_t kStatusVersion = 18; // three bytes, least significant first

// The pipe word: the pipe number, 4 bytes, least significant byte first.
inline void putPipeWord(uint8_t (&word)[4], uint32_t pipe) {
    word[0] = static_cast<uint8_t>(pipe);
    word[1] = static_cast<uint8_t>(pipe >> 8);
    word[2] = static_cast<uint8_t>(pipe >> 16);
    word[3] = static_cast<uint8_t>(pipe >> 24);
}
inline uint32_t readLe32(const uint8_t *bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

} // namespace kvd::protocol
