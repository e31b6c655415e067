// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The process-wide list of attached devices and the lock over it. The caller's
// thread and the event thread both use the list; every acquisition of the
// lock is bounded so that a wedged thread shows up as a status rather than a
// hang.

#include "device/wdu/WduTypes.h"

#include <chrono>
#include <cstdint>

namespace wdu {

struct DriverContext;
struct DeviceRecord;

class DeviceListLock {
 public:
  static constexpr std::chrono::milliseconds kDefaultBound{30000};

  // The lock exists from the first open driver context to the last close.
  static void Create();
  static void Destroy();

  // kSuccess, kTimeoutExpired when the bound passed, kInternalSystemError when
  // the lock does not exist.
  static Status Acquire();
  static Status Release();

  // Tests shorten the bound; it applies to acquisitions that start afterwards.
  static void SetBound(std::chrono::milliseconds bound);
  static std::chrono::milliseconds Bound();
};

// What a per-device operation needs to know about a listed device, copied out
// while the lock is held: after the lock is released the record may be freed
// by a detach at any moment.
struct ListedDevice {
  DriverContext* context = nullptr;
  std::uint32_t uniqueId = 0;
};

Status AddDeviceToDevList(DeviceRecord* device);
// Devices are keyed by their context as well as their identifier: two contexts
// on the same driver see the same device under the same identifier.
Status RemoveDeviceFromDevList(DriverContext* context, std::uint32_t uniqueId,
                               DeviceRecord** removed);
Status FindDeviceByUniqueID(DriverContext* context, std::uint32_t uniqueId,
                            DeviceRecord** found);
Status FindDeviceByCtx(DeviceHandle device, ListedDevice* listed);
// Frees every record of the context with its information.
Status RemoveAllDevicesFromDevList(DriverContext* context);

// Number of listed devices (all contexts); for tests.
std::size_t DevListSize();

}  // namespace wdu
