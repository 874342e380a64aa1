// Names shared by the software card driver and its install program: the
// service, the registry value that lists the cards, and the device-interface
// class of the card with the name of each card's interface.
#pragma once

#include <cstdint>

namespace kvd::testcard {

// The service that loads the driver, and its registry key below
// HKLM\System\CurrentControlSet\Services.
constexpr char kServiceName[] = "kvd4093card";
// REG_BINARY below the service key: one byte per card, its physical ID, in
// logical order.
constexpr char kPhysicalIdsValue[] = "PhysicalIds";
constexpr wchar_t kPhysicalIdsValueWide[] = L"PhysicalIds";
constexpr uint32_t kMaxCards = 32;

// The card's device-interface class, as the registry spells it.
constexpr char kClassText[] = "{6b1d4093-2f7a-4c55-9e13-a0c4d7e25b18}";

// Card n is the root-enumerated device ROOT\KVD4093\<nnnn> (four decimal
// digits); its interface is reached through the DOS device name
// ROOT#KVD4093#<nnnn>#<class>, which the driver links to its device object.
constexpr char kDeviceIdPrefix[] = "ROOT#KVD4093#";
constexpr wchar_t kDosDevicePrefix[] = L"\\DosDevices\\ROOT#KVD4093#";
constexpr wchar_t kClassTextWide[] = L"{6b1d4093-2f7a-4c55-9e13-a0c4d7e25b18}";
constexpr wchar_t kDeviceObjectPrefix[] = L"\\Device\\KVD4093Card";

} // namespace kvd::testcard
