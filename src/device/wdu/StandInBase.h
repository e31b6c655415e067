// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The part every driver stand-in shares: opening handles, the version query,
// event registrations with their match tables, the queue of attach and detach
// events each registration waits on, and the check that a request names a
// device that is still attached. A concrete stand-in reports its devices
// arriving and leaving and carries out the per-device requests.

#include "device/wdu/DeviceDescription.h"
#include "device/wdu/DriverStandIn.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace wdu {

class StandInBase : public DriverStandIn {
 public:
  StandInBase();
  ~StandInBase() override;

  DriverFd Open() override;
  void Close(DriverFd fd) override;
  Status Request(DriverFd fd, std::uint32_t controlCode, void* record,
                 std::uint32_t recordSize) override;

  // For tests: how many handles are open and registrations exist.
  int OpenHandleCount() const;
  int RegistrationCount() const;

 protected:
  // The version the stand-in reports (kMinimumDriverVersion or more).
  virtual std::uint32_t Version() const = 0;
  // False when the driver cannot be opened (the first handle starts it).
  virtual bool Start() { return true; }

  // Called after a registration is in place, outside any lock of the base; a
  // stand-in that only learns of its devices now reports them from here.
  virtual void OnRegistered(const std::vector<MatchEntry>& /*matchTable*/) {}
  virtual void OnUnregistered(const std::vector<MatchEntry>& /*matchTable*/) {}

  // Per-device requests, for a device that is attached (it may leave while
  // the request runs).
  virtual Status SelectInterface(std::uint32_t uniqueId, std::uint32_t interfaceNumber,
                                 std::uint32_t alternateSetting) = 0;
  virtual Status ResetPipe(std::uint32_t uniqueId, std::uint32_t pipe) = 0;
  virtual Status Transfer(std::uint32_t uniqueId, TransferRecord& transfer) = 0;
  // The attach of a device was acknowledged without taking control: whatever
  // the stand-in holds of it is to be let go.
  virtual void ReleaseDevice(std::uint32_t /*uniqueId*/) {}

  // Device reports, from any thread. The identifier comes from NewDeviceId.
  std::uint32_t NewDeviceId();
  void DeviceArrived(std::uint32_t uniqueId, const DeviceDescription& description);
  void DeviceLeft(std::uint32_t uniqueId);
  bool IsAttached(std::uint32_t uniqueId) const;

 private:
  struct Event {
    std::uint32_t action;
    std::uint32_t uniqueId;
  };
  struct Registration {
    std::vector<MatchEntry> matchTable;
    std::uint32_t actions = 0;
    std::uint32_t options = 0;
    bool waitDisabled = false;
    std::deque<Event> queue;
    std::set<std::uint32_t> reported;  // devices whose attach it was sent
  };

  Status GetDeviceData(DeviceDataRecord& data);
  Status Register(EventRecord& event);
  Status Unregister(const EventRecord& event);
  Status Wait(WaitRecord& wait);
  Status Pull(EventRecord& event);
  Status Acknowledge(const EventRecord& event);
  Status SetWaitDisabled(const WaitRecord& wait, bool disabled);
  void QueueAttach(Registration& r, std::uint32_t uniqueId, const DeviceDescription& d);

  std::mutex startMutex_;
  bool started_ = false;  // guarded by startMutex_
  mutable std::mutex mutex_;
  std::condition_variable eventQueued_;
  std::set<DriverFd> fds_;
  DriverFd nextFd_ = 3;
  std::uint32_t nextEventHandle_ = 1;
  std::uint32_t nextDeviceId_ = 1;
  std::map<std::uint32_t, Registration> registrations_;
  std::map<std::uint32_t, DeviceDescription> devices_;
};

}  // namespace wdu
