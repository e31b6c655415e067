// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Records, statuses and request codes of the driver layer. The layer talks to
// the driver stand-in with the same requests and records the kernel driver
// took; on 64-bit Linux the records keep their field order in the natural
// layout, so a pointer field is 8 bytes wide and the records grow accordingly.

#include <cstddef>
#include <cstdint>

namespace wdu {

using Status = std::uint32_t;

namespace status {
constexpr Status kSuccess = 0x00000000;
constexpr Status kInvalidDriverHandle = 0xFFFFFFFF;    // the driver cannot be opened for a request
constexpr Status kInvalidHandle = 0x20000001;          // no event registration to remove
constexpr Status kInsufficientResources = 0x20000005;  // an allocation failed
constexpr Status kInternalSystemError = 0x20000007;    // driver not opened at init, or the lock failed
constexpr Status kDeviceNotFound = 0x2000000F;         // null handle, or the device is not listed
constexpr Status kTimeoutExpired = 0x20000015;         // lock not obtained in time; transfer timed out
constexpr Status kIncorrectVersion = 0x2000001C;       // driver older than kMinimumDriverVersion

// Statuses of the driver stand-ins' own (see LibusbStandIn.h for how libusb's
// errors map onto the table).
constexpr Status kIoError = 0x20001001;
constexpr Status kInvalidParameter = 0x20001002;
constexpr Status kAccessDenied = 0x20001003;
constexpr Status kNotFound = 0x20001005;
constexpr Status kBusy = 0x20001006;
constexpr Status kOverflow = 0x20001008;
constexpr Status kPipeStalled = 0x20001009;
constexpr Status kInterrupted = 0x2000100A;
constexpr Status kNotSupported = 0x2000100C;
constexpr Status kOtherError = 0x20001063;
constexpr Status kInterfaceNotSelected = 0x20001100;
}  // namespace status

constexpr std::uint32_t kMinimumDriverVersion = 601;

// Request (control) codes.
namespace code {
constexpr std::uint32_t kVersion = 0x95382443;
constexpr std::uint32_t kGetDeviceData = 0x95382603;
constexpr std::uint32_t kSelectInterface = 0x95382607;
constexpr std::uint32_t kResetPipe = 0x9538260B;
constexpr std::uint32_t kTransfer = 0x9538260F;
constexpr std::uint32_t kEventRegister = 0x9538261B;
constexpr std::uint32_t kEventUnregister = 0x9538261F;
constexpr std::uint32_t kEventPull = 0x95382623;
constexpr std::uint32_t kEventSend = 0x95382627;
constexpr std::uint32_t kEventWaitEnable = 0x9538247B;
constexpr std::uint32_t kEventWaitDisable = 0x9538247F;
constexpr std::uint32_t kEventWait = 0x9538252F;
}  // namespace code

// One entry of a match table. A zero class, subclass or protocol field
// matches any value; vendor and product must match exactly.
struct MatchEntry {
  std::uint16_t vendorId;
  std::uint16_t productId;
  std::uint8_t deviceClass;
  std::uint8_t deviceSubClass;
  std::uint8_t interfaceClass;
  std::uint8_t interfaceSubClass;
  std::uint8_t interfaceProtocol;
  std::uint8_t padding;
};
static_assert(sizeof(MatchEntry) == 10);

// --- Device information, as the driver lays it out in the caller's buffer.
// Every pointer points into the same buffer, so the buffer can be freed whole.

struct UsbDeviceDescriptor {
  std::uint8_t bLength;
  std::uint8_t bDescriptorType;
  std::uint16_t bcdUSB;
  std::uint8_t bDeviceClass;
  std::uint8_t bDeviceSubClass;
  std::uint8_t bDeviceProtocol;
  std::uint8_t bMaxPacketSize0;
  std::uint16_t idVendor;
  std::uint16_t idProduct;
  std::uint16_t bcdDevice;
  std::uint8_t iManufacturer;
  std::uint8_t iProduct;
  std::uint8_t iSerialNumber;
  std::uint8_t bNumConfigurations;
};

struct UsbConfigDescriptor {
  std::uint8_t bLength;
  std::uint8_t bDescriptorType;
  std::uint16_t wTotalLength;
  std::uint8_t bNumInterfaces;
  std::uint8_t bConfigurationValue;
  std::uint8_t iConfiguration;
  std::uint8_t bmAttributes;
  std::uint8_t MaxPower;
};

struct UsbInterfaceDescriptor {
  std::uint8_t bLength;
  std::uint8_t bDescriptorType;
  std::uint8_t bInterfaceNumber;  // byte 2
  std::uint8_t bAlternateSetting;
  std::uint8_t bNumEndpoints;
  std::uint8_t bInterfaceClass;
  std::uint8_t bInterfaceSubClass;
  std::uint8_t bInterfaceProtocol;
  std::uint8_t iInterface;
};
static_assert(offsetof(UsbInterfaceDescriptor, bInterfaceNumber) == 2);

struct UsbEndpointDescriptor {
  std::uint8_t bLength;
  std::uint8_t bDescriptorType;
  std::uint8_t bEndpointAddress;
  std::uint8_t bmAttributes;
  std::uint16_t wMaxPacketSize;
  std::uint8_t bInterval;
};

struct AlternateSettingInfo {
  UsbInterfaceDescriptor descriptor;  // first, so the record begins with it
  std::uint32_t endpointCount;
  UsbEndpointDescriptor* endpoints;
};

struct InterfaceInfo {
  std::uint32_t alternateSettingCount;
  AlternateSettingInfo* activeAlternateSetting;
  AlternateSettingInfo* alternateSettings;
};

struct ConfigurationInfo {
  UsbConfigDescriptor descriptor;
  std::uint32_t interfaceCount;
  InterfaceInfo* interfaces;
};

constexpr std::uint32_t kMaxActiveInterfaces = 8;

struct DeviceInfo {
  UsbDeviceDescriptor deviceDescriptor;
  std::uint32_t configurationCount;
  ConfigurationInfo* configurations;
  ConfigurationInfo* activeConfiguration;
  std::uint32_t activeInterfaceCount;
  InterfaceInfo* activeInterface[kMaxActiveInterfaces];
};

// The number of the device's first active interface, read along the path
// first active interface -> its active alternate setting -> the interface
// descriptor. -1 when the information does not lead there.
int FirstActiveInterfaceNumber(const DeviceInfo* info);

// --- Caller-facing tables.

// Handle of an attached device: the address of the layer's record for it.
using DeviceHandle = void*;

using AttachCallback = bool (*)(DeviceHandle device, const DeviceInfo* info, void* userData);
using DetachCallback = void (*)(DeviceHandle device, void* userData);
using PowerCallback = void (*)(DeviceHandle device, std::uint32_t action, void* userData);

struct EventTable {
  AttachCallback attach = nullptr;
  DetachCallback detach = nullptr;
  PowerCallback power = nullptr;
  void* userData = nullptr;
};

// --- Request records.

struct VersionRecord {
  std::uint32_t version;
  char text[128];
};
static_assert(sizeof(VersionRecord) == 132);

struct DeviceDataRecord {
  std::uint32_t uniqueId;
  void* buffer;              // null: the driver only reports the size it needs
  std::uint32_t bufferSize;  // in: the buffer's size; out: the size needed
  std::uint32_t reserved;
};

struct SelectInterfaceRecord {
  std::uint32_t uniqueId;
  std::uint32_t interfaceNumber;
  std::uint32_t alternateSetting;
  std::uint32_t reserved;
};
static_assert(sizeof(SelectInterfaceRecord) == 16);

struct ResetPipeRecord {
  std::uint32_t uniqueId;
  std::uint32_t pipe;
  std::uint32_t reserved;
};
static_assert(sizeof(ResetPipeRecord) == 12);

struct TransferRecord {
  std::uint32_t uniqueId;
  std::uint32_t pipe;
  std::uint32_t read;  // 1: device to host
  std::uint32_t options;
  void* buffer;
  std::uint32_t bufferSize;
  std::uint32_t bytesTransferred;  // filled by the driver, also on failure
  std::uint8_t setupPacket[8];
  std::uint32_t timeoutMs;  // 0: no limit
};

namespace action {
constexpr std::uint32_t kAttach = 0x1;
constexpr std::uint32_t kDetach = 0x2;
constexpr std::uint32_t kPowerMask = 0x3FF0;  // ten single bits, 0x10 to 0x2000
}  // namespace action

namespace option {
constexpr std::uint32_t kAcknowledge = 0x1;
constexpr std::uint32_t kTakeControl = 0x2;
}  // namespace option

constexpr std::uint32_t kEventCardType = 0xFFFFFFFE;
constexpr std::uint32_t kEventRecordVersion = 1;

struct EventRecord {
  std::uint32_t eventHandle;  // set by registration
  std::uint32_t action;
  std::uint32_t status;
  std::uint32_t eventId;
  std::uint32_t cardType;  // kEventCardType
  std::uint32_t reserved20;
  std::uint32_t options;
  std::uint32_t reserved28;
  std::uint32_t reserved32;
  std::uint32_t uniqueId;  // the device an event concerns
  std::uint32_t reserved40;
  std::uint32_t reserved44;
  std::uint32_t version;  // kEventRecordVersion
  std::uint32_t matchCount;
  MatchEntry match[1];  // matchCount entries; the record is allocated to hold them all
};
static_assert(sizeof(EventRecord) == 68);
static_assert(offsetof(EventRecord, action) == 4);
static_assert(offsetof(EventRecord, cardType) == 16);
static_assert(offsetof(EventRecord, options) == 24);
static_assert(offsetof(EventRecord, uniqueId) == 36);
static_assert(offsetof(EventRecord, version) == 48);
static_assert(offsetof(EventRecord, matchCount) == 52);
static_assert(offsetof(EventRecord, match) == 56);

namespace wait {
constexpr std::uint32_t kEventPending = 0;
constexpr std::uint32_t kEndLoop = 1;
constexpr std::uint32_t kWaitAgain = 2;
}  // namespace wait

struct WaitRecord {
  std::uint32_t eventHandle;
  std::uint32_t reserved[10];
  std::uint32_t outcome;  // one of wait::
};
static_assert(sizeof(WaitRecord) == 48);
static_assert(offsetof(WaitRecord, outcome) == 44);

}  // namespace wdu
