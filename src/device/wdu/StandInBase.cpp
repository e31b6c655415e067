// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/wdu/StandInBase.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace wdu {

StandInBase::StandInBase() = default;
StandInBase::~StandInBase() = default;

DriverFd StandInBase::Open() {
  // The first handle starts the driver; later ones only wait for that.
  std::lock_guard<std::mutex> starting(startMutex_);
  if (!started_) {
    if (!Start()) return kInvalidDriverFd;
    started_ = true;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const DriverFd fd = nextFd_++;
  fds_.insert(fd);
  return fd;
}

void StandInBase::Close(DriverFd fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  fds_.erase(fd);
}

int StandInBase::OpenHandleCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(fds_.size());
}

int StandInBase::RegistrationCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(registrations_.size());
}

std::uint32_t StandInBase::NewDeviceId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return nextDeviceId_++;
}

bool StandInBase::IsAttached(std::uint32_t uniqueId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.count(uniqueId) != 0;
}

void StandInBase::QueueAttach(Registration& r, std::uint32_t uniqueId, const DeviceDescription& d) {
  if (!(r.actions & action::kAttach)) return;
  for (const MatchEntry& entry : r.matchTable) {
    if (d.Matches(entry)) {
      r.queue.push_back(Event{action::kAttach, uniqueId});
      r.reported.insert(uniqueId);
      return;
    }
  }
}

void StandInBase::DeviceArrived(std::uint32_t uniqueId, const DeviceDescription& description) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto [it, added] = devices_.emplace(uniqueId, description);
    if (!added) return;
    for (auto& [handle, r] : registrations_) QueueAttach(r, uniqueId, it->second);
  }
  eventQueued_.notify_all();
}

void StandInBase::DeviceLeft(std::uint32_t uniqueId) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (devices_.erase(uniqueId) == 0) return;
    for (auto& [handle, r] : registrations_) {
      if (r.reported.erase(uniqueId) && (r.actions & action::kDetach))
        r.queue.push_back(Event{action::kDetach, uniqueId});
    }
  }
  eventQueued_.notify_all();
}

Status StandInBase::Request(DriverFd fd, std::uint32_t controlCode, void* record,
                            std::uint32_t recordSize) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fds_.count(fd)) return status::kInvalidDriverHandle;
  }
  auto fits = [&](std::size_t need) { return record && recordSize >= need; };
  switch (controlCode) {
    case code::kVersion: {
      if (!fits(sizeof(VersionRecord))) return status::kInsufficientResources;
      auto& v = *static_cast<VersionRecord*>(record);
      v.version = Version();
      std::snprintf(v.text, sizeof v.text, "stand-in %u", static_cast<unsigned>(v.version));
      return status::kSuccess;
    }
    case code::kGetDeviceData:
      if (!fits(sizeof(DeviceDataRecord))) return status::kInsufficientResources;
      return GetDeviceData(*static_cast<DeviceDataRecord*>(record));
    case code::kSelectInterface: {
      if (!fits(sizeof(SelectInterfaceRecord))) return status::kInsufficientResources;
      const auto& s = *static_cast<SelectInterfaceRecord*>(record);
      if (!IsAttached(s.uniqueId)) return status::kDeviceNotFound;
      return SelectInterface(s.uniqueId, s.interfaceNumber, s.alternateSetting);
    }
    case code::kResetPipe: {
      if (!fits(sizeof(ResetPipeRecord))) return status::kInsufficientResources;
      const auto& r = *static_cast<ResetPipeRecord*>(record);
      if (!IsAttached(r.uniqueId)) return status::kDeviceNotFound;
      return ResetPipe(r.uniqueId, r.pipe);
    }
    case code::kTransfer: {
      if (!fits(sizeof(TransferRecord))) return status::kInsufficientResources;
      auto& t = *static_cast<TransferRecord*>(record);
      t.bytesTransferred = 0;
      if (!IsAttached(t.uniqueId)) return status::kDeviceNotFound;
      return Transfer(t.uniqueId, t);
    }
    case code::kEventRegister:
      if (!fits(sizeof(EventRecord))) return status::kInsufficientResources;
      return Register(*static_cast<EventRecord*>(record));
    case code::kEventUnregister:
      if (!fits(sizeof(EventRecord))) return status::kInsufficientResources;
      return Unregister(*static_cast<EventRecord*>(record));
    case code::kEventPull:
      if (!fits(sizeof(EventRecord))) return status::kInsufficientResources;
      return Pull(*static_cast<EventRecord*>(record));
    case code::kEventSend:
      if (!fits(sizeof(EventRecord))) return status::kInsufficientResources;
      return Acknowledge(*static_cast<EventRecord*>(record));
    case code::kEventWaitEnable:
    case code::kEventWaitDisable:
      if (!fits(sizeof(WaitRecord))) return status::kInsufficientResources;
      return SetWaitDisabled(*static_cast<WaitRecord*>(record),
                             controlCode == code::kEventWaitDisable);
    case code::kEventWait:
      if (!fits(sizeof(WaitRecord))) return status::kInsufficientResources;
      return Wait(*static_cast<WaitRecord*>(record));
    default:
      return status::kInvalidHandle;
  }
}

Status StandInBase::GetDeviceData(DeviceDataRecord& data) {
  DeviceDescription description;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = devices_.find(data.uniqueId);
    if (it == devices_.end()) return status::kDeviceNotFound;
    description = it->second;
  }
  const std::size_t need = DeviceInfoSize(description);
  if (!data.buffer) {
    data.bufferSize = static_cast<std::uint32_t>(need);
    return status::kSuccess;
  }
  if (data.bufferSize < need) {
    data.bufferSize = static_cast<std::uint32_t>(need);
    return status::kInsufficientResources;
  }
  LayOutDeviceInfo(description, data.buffer);
  return status::kSuccess;
}

Status StandInBase::Register(EventRecord& event) {
  std::vector<MatchEntry> table(event.matchCount);
  // The table runs on past the record's fixed part; copy it out bytewise.
  if (!table.empty())
    std::memcpy(table.data(), reinterpret_cast<const std::uint8_t*>(&event) + offsetof(EventRecord, match),
                sizeof(MatchEntry) * table.size());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint32_t handle = nextEventHandle_++;
    Registration& r = registrations_[handle];
    r.matchTable = table;
    r.actions = event.action;
    r.options = event.options;
    for (const auto& [id, description] : devices_) QueueAttach(r, id, description);
    event.eventHandle = handle;
  }
  eventQueued_.notify_all();
  OnRegistered(table);
  return status::kSuccess;
}

Status StandInBase::Unregister(const EventRecord& event) {
  std::vector<MatchEntry> table;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = registrations_.find(event.eventHandle);
    if (it == registrations_.end()) return status::kInvalidHandle;
    table = it->second.matchTable;
    registrations_.erase(it);
  }
  eventQueued_.notify_all();
  OnUnregistered(table);
  return status::kSuccess;
}

Status StandInBase::SetWaitDisabled(const WaitRecord& wait, bool disabled) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = registrations_.find(wait.eventHandle);
    if (it == registrations_.end()) return status::kInvalidHandle;
    it->second.waitDisabled = disabled;
  }
  eventQueued_.notify_all();
  return status::kSuccess;
}

Status StandInBase::Wait(WaitRecord& wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    auto it = registrations_.find(wait.eventHandle);
    if (it == registrations_.end() || it->second.waitDisabled) {
      wait.outcome = wait::kEndLoop;
      return status::kSuccess;
    }
    if (!it->second.queue.empty()) {
      wait.outcome = wait::kEventPending;
      return status::kSuccess;
    }
    eventQueued_.wait(lock);
  }
}

Status StandInBase::Pull(EventRecord& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = registrations_.find(event.eventHandle);
  if (it == registrations_.end()) return status::kInvalidHandle;
  Registration& r = it->second;
  event.action = 0;
  event.uniqueId = 0;
  event.options = r.options;
  if (r.queue.empty()) return status::kSuccess;
  event.action = r.queue.front().action;
  event.uniqueId = r.queue.front().uniqueId;
  r.queue.pop_front();
  return status::kSuccess;
}

Status StandInBase::Acknowledge(const EventRecord& event) {
  if (event.action == action::kAttach && !(event.options & option::kTakeControl)) {
    bool heldElsewhere = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = registrations_.find(event.eventHandle);
      if (it != registrations_.end()) it->second.reported.erase(event.uniqueId);
      for (const auto& [handle, r] : registrations_) heldElsewhere |= r.reported.count(event.uniqueId) != 0;
    }
    if (!heldElsewhere) ReleaseDevice(event.uniqueId);
  }
  return status::kSuccess;
}

}  // namespace wdu
