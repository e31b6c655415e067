// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/wdu/DevList.h"

#include "device/wdu/Wdu.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace wdu {
namespace {

struct Node {
  Node* next;
  DeviceRecord* device;
};

Node* pHead = nullptr;  // guarded by the device list lock

// A bounded lock made of a mutex and a condition: the waits of a timed mutex
// are invisible to the thread sanitizer this layer is checked with.
std::mutex stateMutex;
std::condition_variable released;
bool held = false;  // guarded by stateMutex
std::atomic<bool> lockExists{false};
std::atomic<std::int64_t> boundMs{DeviceListLock::kDefaultBound.count()};

// Acquires for the lifetime of the guard; `status` tells whether it did.
class Guard {
 public:
  Guard() : status(DeviceListLock::Acquire()) {}
  ~Guard() {
    if (status == status::kSuccess) DeviceListLock::Release();
  }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
  const Status status;
};

}  // namespace

void DeviceListLock::Create() { lockExists = true; }
void DeviceListLock::Destroy() { lockExists = false; }

Status DeviceListLock::Acquire() {
  if (!lockExists) return status::kInternalSystemError;
  std::unique_lock<std::mutex> lock(stateMutex);
  if (!released.wait_for(lock, std::chrono::milliseconds(boundMs.load()), [] { return !held; }))
    return status::kTimeoutExpired;
  held = true;
  return status::kSuccess;
}

Status DeviceListLock::Release() {
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    held = false;
  }
  released.notify_one();
  return status::kSuccess;
}

void DeviceListLock::SetBound(std::chrono::milliseconds bound) { boundMs = bound.count(); }
std::chrono::milliseconds DeviceListLock::Bound() { return std::chrono::milliseconds(boundMs.load()); }

Status AddDeviceToDevList(DeviceRecord* device) {
  Node* node = new (std::nothrow) Node{nullptr, device};
  if (!node) return status::kInsufficientResources;
  Guard guard;
  if (guard.status != status::kSuccess) {
    delete node;
    return guard.status;
  }
  node->next = pHead;
  pHead = node;
  return status::kSuccess;
}

Status RemoveDeviceFromDevList(DriverContext* context, std::uint32_t uniqueId,
                               DeviceRecord** removed) {
  *removed = nullptr;
  Guard guard;
  if (guard.status != status::kSuccess) return guard.status;
  for (Node** link = &pHead; *link; link = &(*link)->next) {
    Node* node = *link;
    if (node->device->context == context && node->device->uniqueId == uniqueId) {
      *link = node->next;
      *removed = node->device;
      delete node;
      return status::kSuccess;
    }
  }
  return status::kDeviceNotFound;
}

Status FindDeviceByUniqueID(DriverContext* context, std::uint32_t uniqueId,
                            DeviceRecord** found) {
  *found = nullptr;
  Guard guard;
  if (guard.status != status::kSuccess) return guard.status;
  for (Node* node = pHead; node; node = node->next) {
    if (node->device->context == context && node->device->uniqueId == uniqueId) {
      *found = node->device;
      return status::kSuccess;
    }
  }
  return status::kDeviceNotFound;
}

Status FindDeviceByCtx(DeviceHandle device, ListedDevice* listed) {
  Guard guard;
  if (guard.status != status::kSuccess) return guard.status;
  for (Node* node = pHead; node; node = node->next) {
    if (node->device == device) {
      if (listed) *listed = ListedDevice{node->device->context, node->device->uniqueId};
      return status::kSuccess;
    }
  }
  return status::kDeviceNotFound;
}

Status RemoveAllDevicesFromDevList(DriverContext* context) {
  Node* mine = nullptr;
  {
    Guard guard;
    if (guard.status != status::kSuccess) return guard.status;
    for (Node** link = &pHead; *link;) {
      Node* node = *link;
      if (node->device->context == context) {
        *link = node->next;
        node->next = mine;
        mine = node;
      } else {
        link = &node->next;
      }
    }
  }
  while (mine) {
    Node* next = mine->next;
    FreeDeviceRecord(mine->device);
    delete mine;
    mine = next;
  }
  return status::kSuccess;
}

std::size_t DevListSize() {
  Guard guard;
  std::size_t n = 0;
  if (guard.status != status::kSuccess) return n;
  for (Node* node = pHead; node; node = node->next) ++n;
  return n;
}

}  // namespace wdu
