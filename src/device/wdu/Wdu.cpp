// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/wdu/Wdu.h"

#include "device/wdu/DevList.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

namespace wdu {
namespace {

std::mutex contextCountMutex;
int openContexts = 0;  // guarded by contextCountMutex

Status SendRequest(DriverStandIn& standIn, DriverFd fd, std::uint32_t controlCode, void* record,
                   std::uint32_t size) {
  if (fd == kInvalidDriverFd) return status::kInvalidDriverHandle;
  return standIn.Request(fd, controlCode, record, size);
}

// Transfers and event waits go through a handle of their own, so that they
// never queue behind each other or behind the context's requests.
Status SendOnOwnHandle(DriverStandIn& standIn, std::uint32_t controlCode, void* record,
                       std::uint32_t size) {
  const DriverFd fd = standIn.Open();
  const Status s = SendRequest(standIn, fd, controlCode, record, size);
  if (fd != kInvalidDriverFd) standIn.Close(fd);
  return s;
}

Status SendWaitRequest(DriverContext* context, std::uint32_t controlCode, std::uint32_t eventHandle) {
  WaitRecord wait{};
  wait.eventHandle = eventHandle;
  return SendRequest(*context->standIn, context->driverFd, controlCode, &wait, sizeof wait);
}

Status SendUnregister(DriverContext* context, std::uint32_t eventHandle) {
  EventRecord event{};
  event.eventHandle = eventHandle;
  event.cardType = kEventCardType;
  event.version = kEventRecordVersion;
  return SendRequest(*context->standIn, context->driverFd, code::kEventUnregister, &event,
                     sizeof event);
}

void EventThread(DriverContext* context, std::uint32_t eventHandle) {
  DriverStandIn& standIn = *context->standIn;
  for (;;) {
    WaitRecord wait{};
    wait.eventHandle = eventHandle;
    // A wait the driver cannot answer would otherwise be retried at full speed
    // for ever; without waits there are no events, so the loop ends.
    if (SendOnOwnHandle(standIn, code::kEventWait, &wait, sizeof wait) != status::kSuccess) return;
    if (wait.outcome == wait::kEndLoop) return;
    if (wait.outcome == wait::kWaitAgain) continue;

    EventRecord event{};
    event.eventHandle = eventHandle;
    event.cardType = kEventCardType;
    event.version = kEventRecordVersion;
    if (SendRequest(standIn, context->driverFd, code::kEventPull, &event, sizeof event) !=
        status::kSuccess)
      continue;
    if (event.action != 0) EventHandler(&event, context);
    if (event.options & option::kAcknowledge)
      SendRequest(standIn, context->driverFd, code::kEventSend, &event, sizeof event);
  }
}

Status EventRegister(DriverContext* context, const MatchEntry* matchTables,
                     std::uint32_t matchCount, std::uint32_t options) {
  // A std::vector of 32-bit words keeps the record aligned for its fields.
  const std::size_t size =
      sizeof(EventRecord) + sizeof(MatchEntry) * (matchCount > 1 ? matchCount - 1 : 0);
  std::vector<std::uint32_t> storage((size + 3) / 4, 0);
  auto* event = reinterpret_cast<EventRecord*>(storage.data());
  event->cardType = kEventCardType;
  event->options = options;
  event->version = kEventRecordVersion;
  event->matchCount = matchCount;
  if (matchCount > 0)
    std::memcpy(reinterpret_cast<std::uint8_t*>(event) + offsetof(EventRecord, match), matchTables,
                sizeof(MatchEntry) * matchCount);
  event->action = action::kAttach;
  if (context->events.detach) event->action |= action::kDetach;
  if (context->events.power) event->action |= action::kPowerMask;

  DriverStandIn& standIn = *context->standIn;
  Status s = SendRequest(standIn, context->driverFd, code::kEventRegister, event, sizeof(EventRecord));
  if (s != status::kSuccess) return s;
  const std::uint32_t eventHandle = event->eventHandle;

  s = SendWaitRequest(context, code::kEventWaitEnable, eventHandle);
  if (s == status::kSuccess) {
    auto registration = std::make_unique<EventRegistration>();
    registration->eventHandle = eventHandle;
    try {
      registration->eventThread = std::thread(EventThread, context, eventHandle);
      context->registration = std::move(registration);
      return status::kSuccess;
    } catch (const std::system_error&) {
      s = status::kInsufficientResources;
    }
  }
  SendWaitRequest(context, code::kEventWaitDisable, eventHandle);
  SendUnregister(context, eventHandle);
  return s;
}

struct DeviceRequest {
  Status status;
  ListedDevice listed;
};

// Per-device operations answer for a handle that is null or no longer listed
// without asking the driver.
DeviceRequest CheckDevice(DeviceHandle device) {
  DeviceRequest r{status::kDeviceNotFound, {}};
  if (!device) return r;
  r.status = FindDeviceByCtx(device, &r.listed);
  if (r.status == status::kSuccess && !r.listed.context) r.status = status::kDeviceNotFound;
  return r;
}

Status GetDeviceInfoOf(const ListedDevice& listed, DeviceInfo** info) {
  DriverContext* context = listed.context;
  DeviceDataRecord data{};
  data.uniqueId = listed.uniqueId;
  Status s = SendRequest(*context->standIn, context->driverFd, code::kGetDeviceData, &data, sizeof data);
  if (s != status::kSuccess) return s;
  const std::uint32_t size = data.bufferSize;
  // Zero-initialised and aligned for any field the driver lays out in it.
  void* buffer = std::calloc(1, size > 0 ? size : 1);
  if (!buffer) return status::kInsufficientResources;
  data = DeviceDataRecord{};
  data.uniqueId = listed.uniqueId;
  data.buffer = buffer;
  data.bufferSize = size;
  s = SendRequest(*context->standIn, context->driverFd, code::kGetDeviceData, &data, sizeof data);
  if (s != status::kSuccess) {
    std::free(buffer);
    return s;
  }
  *info = static_cast<DeviceInfo*>(buffer);
  return status::kSuccess;
}

}  // namespace

int FirstActiveInterfaceNumber(const DeviceInfo* info) {
  if (!info || info->activeInterfaceCount == 0 || !info->activeInterface[0]) return -1;
  const AlternateSettingInfo* alt = info->activeInterface[0]->activeAlternateSetting;
  if (!alt) return -1;
  return alt->descriptor.bInterfaceNumber;
}

void FreeDeviceRecord(DeviceRecord* device) {
  if (!device) return;
  WDU_PutDeviceInfo(device->info);
  delete device;
}

int WDU_OpenContextCount() {
  std::lock_guard<std::mutex> lock(contextCountMutex);
  return openContexts;
}

Status WDU_Init(DriverHandle* driver, const MatchEntry* matchTables, std::uint32_t matchCount,
                const EventTable* eventTable, std::uint32_t options, DriverStandIn& standIn) {
  *driver = nullptr;
  auto* context = new (std::nothrow) DriverContext;
  if (!context) return status::kInsufficientResources;
  context->standIn = &standIn;
  {
    std::lock_guard<std::mutex> lock(contextCountMutex);
    if (openContexts == 0) DeviceListLock::Create();
    ++openContexts;
  }

  Status s = status::kSuccess;
  context->driverFd = standIn.Open();
  if (context->driverFd == kInvalidDriverFd) {
    s = status::kInternalSystemError;
  } else {
    VersionRecord version{};
    s = SendRequest(standIn, context->driverFd, code::kVersion, &version, sizeof version);
    if (s == status::kSuccess && version.version < kMinimumDriverVersion)
      s = status::kIncorrectVersion;
  }
  if (s == status::kSuccess) {
    if (eventTable) context->events = *eventTable;
    if (context->events.attach) s = EventRegister(context, matchTables, matchCount, options);
  }
  if (s != status::kSuccess) {
    WDU_Close(context);
    return s;
  }
  *driver = context;
  return status::kSuccess;
}

void WDU_Close(DriverHandle context) {
  // Closing what was never opened must not count as closing a context: a
  // caller that closes after a failed init would otherwise take the count
  // below the number of contexts still open and pull the list lock from under
  // them.
  if (!context) return;
  if (context->driverFd != kInvalidDriverFd) {
    if (auto& registration = context->registration) {
      SendWaitRequest(context, code::kEventWaitDisable, registration->eventHandle);
      if (registration->eventThread.joinable()) {
        // A callback that closes its own context must not wait for itself.
        if (registration->eventThread.get_id() == std::this_thread::get_id())
          registration->eventThread.detach();
        else
          registration->eventThread.join();
      }
      SendUnregister(context, registration->eventHandle);
      registration.reset();
    }
    context->standIn->Close(context->driverFd);
    context->driverFd = kInvalidDriverFd;
  }
  RemoveAllDevicesFromDevList(context);
  delete context;
  std::lock_guard<std::mutex> lock(contextCountMutex);
  if (openContexts > 0 && --openContexts == 0) DeviceListLock::Destroy();
}

Status WDU_GetDeviceInfo(DeviceHandle device, DeviceInfo** info) {
  const DeviceRequest r = CheckDevice(device);
  if (r.status != status::kSuccess) return r.status;
  return GetDeviceInfoOf(r.listed, info);
}

void WDU_PutDeviceInfo(DeviceInfo* info) { std::free(info); }

Status WDU_SelectInterface(DeviceHandle device, std::uint32_t interfaceNumber,
                           std::uint32_t alternateSetting) {
  const DeviceRequest r = CheckDevice(device);
  if (r.status != status::kSuccess) return r.status;
  SelectInterfaceRecord select{r.listed.uniqueId, interfaceNumber, alternateSetting, 0};
  DriverContext* context = r.listed.context;
  return SendRequest(*context->standIn, context->driverFd, code::kSelectInterface, &select,
                     sizeof select);
}

Status WDU_PipeTransfer(DeviceHandle device, std::uint32_t pipe, std::uint32_t read,
                        std::uint32_t options, void* buffer, std::uint32_t bufferSize,
                        std::uint32_t* transferred, const std::uint8_t* setupPacket,
                        std::uint32_t timeoutMs) {
  const DeviceRequest r = CheckDevice(device);
  if (r.status != status::kSuccess) return r.status;
  TransferRecord transfer{};
  transfer.uniqueId = r.listed.uniqueId;
  transfer.pipe = pipe;
  transfer.read = read;
  transfer.options = options;
  transfer.buffer = buffer;
  transfer.bufferSize = bufferSize;
  if (setupPacket) std::memcpy(transfer.setupPacket, setupPacket, sizeof transfer.setupPacket);
  transfer.timeoutMs = timeoutMs;
  const Status s =
      SendOnOwnHandle(*r.listed.context->standIn, code::kTransfer, &transfer, sizeof transfer);
  if (transferred) *transferred = transfer.bytesTransferred;
  return s;
}

Status WDU_PipeReset(DeviceHandle device, std::uint32_t pipe) {
  const DeviceRequest r = CheckDevice(device);
  if (r.status != status::kSuccess) return r.status;
  ResetPipeRecord reset{r.listed.uniqueId, pipe, 0};
  DriverContext* context = r.listed.context;
  return SendRequest(*context->standIn, context->driverFd, code::kResetPipe, &reset, sizeof reset);
}

void EventHandler(EventRecord* event, DriverContext* context) {
  const std::uint32_t act = event->action;
  if (act == action::kAttach) {
    event->options &= ~option::kTakeControl;
    auto* device = new (std::nothrow) DeviceRecord{context, nullptr, event->uniqueId};
    if (!device) return;
    if (AddDeviceToDevList(device) != status::kSuccess) {
      delete device;
      return;
    }
    DeviceRecord* removed = nullptr;
    DeviceInfo* info = nullptr;
    if (GetDeviceInfoOf(ListedDevice{context, device->uniqueId}, &info) != status::kSuccess) {
      // Left listed (and leaked) only if the list cannot be had: freeing it
      // then would leave the list pointing at freed memory.
      if (RemoveDeviceFromDevList(context, device->uniqueId, &removed) == status::kSuccess)
        delete device;
      return;
    }
    device->info = info;
    const bool taken = context->events.attach(device, info, context->events.userData);
    if (!taken) {
      if (RemoveDeviceFromDevList(context, device->uniqueId, &removed) == status::kSuccess)
        FreeDeviceRecord(device);
      return;
    }
    event->options |= option::kTakeControl;
  } else if (act == action::kDetach) {
    DeviceRecord* device = nullptr;
    if (RemoveDeviceFromDevList(context, event->uniqueId, &device) != status::kSuccess) return;
    if (context->events.detach) context->events.detach(device, context->events.userData);
    FreeDeviceRecord(device);
  } else if ((act & action::kPowerMask) == act && (act & (act - 1)) == 0) {
    DeviceRecord* device = nullptr;
    if (FindDeviceByUniqueID(context, event->uniqueId, &device) != status::kSuccess) return;
    if (context->events.power) context->events.power(device, act, context->events.userData);
  }
}

}  // namespace wdu
