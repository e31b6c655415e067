// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's layer over the USB driver: a driver context per WDU_Init, the
// attach and detach of matching devices reported through the caller's
// callbacks on an event thread of the layer's own, and the per-device
// operations. Every operation returns a status, 0 meaning success.

#include "device/wdu/DriverStandIn.h"
#include "device/wdu/WduTypes.h"

#include <cstdint>
#include <memory>
#include <thread>

namespace wdu {

struct EventRegistration {
  std::uint32_t eventHandle = 0;
  std::thread eventThread;
};

struct DriverContext {
  DriverStandIn* standIn = nullptr;
  DriverFd driverFd = kInvalidDriverFd;
  EventTable events;
  std::unique_ptr<EventRegistration> registration;  // none without an attach callback
};

struct DeviceRecord {
  DriverContext* context = nullptr;
  DeviceInfo* info = nullptr;  // owned
  std::uint32_t uniqueId = 0;
};

using DriverHandle = DriverContext*;

// `driver` is set to null first and to the new context on success. `options`
// become the registration's option bits (option::kAcknowledge). The stand-in
// must outlive the context.
Status WDU_Init(DriverHandle* driver, const MatchEntry* matchTables, std::uint32_t matchCount,
                const EventTable* eventTable, std::uint32_t options, DriverStandIn& standIn);

// Ends the context: stops its event thread, forgets its devices. A null
// context is ignored.
void WDU_Close(DriverHandle driver);

// On success `info` is a new buffer; free it with WDU_PutDeviceInfo.
Status WDU_GetDeviceInfo(DeviceHandle device, DeviceInfo** info);
void WDU_PutDeviceInfo(DeviceInfo* info);

Status WDU_SelectInterface(DeviceHandle device, std::uint32_t interfaceNumber,
                           std::uint32_t alternateSetting);

// `transferred` is written whenever the driver was asked, also on failure.
// `setupPacket` may be null (8 zero bytes are sent).
Status WDU_PipeTransfer(DeviceHandle device, std::uint32_t pipe, std::uint32_t read,
                        std::uint32_t options, void* buffer, std::uint32_t bufferSize,
                        std::uint32_t* transferred, const std::uint8_t* setupPacket,
                        std::uint32_t timeoutMs);

Status WDU_PipeReset(DeviceHandle device, std::uint32_t pipe);

// Called on the event thread for each pulled event.
void EventHandler(EventRecord* event, DriverContext* context);

void FreeDeviceRecord(DeviceRecord* device);

// Number of driver contexts open now.
int WDU_OpenContextCount();

}  // namespace wdu
