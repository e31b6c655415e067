// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The driver stand-in for real units, on libusb-1.0.
//
// Devices are learnt from libusb's hot-plug callbacks, registered per match
// table entry with LIBUSB_HOTPLUG_ENUMERATE so that a unit plugged in before
// the registration is reported by an attach as well. libusb's events are
// pumped on a thread of the stand-in's own. A device is opened only when an
// interface is selected on it, so a device whose attach is refused is never
// touched.
//
// libusb's results map onto the status table as follows; this is the one
// place that decides it:
//
//   libusb result                 status       text
//   ----------------------------  -----------  ------------------------------
//   LIBUSB_SUCCESS (or a count)   0x00000000   Success
//   LIBUSB_ERROR_NO_DEVICE        0x2000000F   Device not found
//   LIBUSB_ERROR_TIMEOUT          0x20000015   TimeOut expired
//   LIBUSB_ERROR_NO_MEM           0x20000005   Insufficient resources
//   LIBUSB_ERROR_IO               0x20001001   I/O error
//   LIBUSB_ERROR_INVALID_PARAM    0x20001002   Invalid parameter
//   LIBUSB_ERROR_ACCESS           0x20001003   Access denied (no access rule)
//   LIBUSB_ERROR_NOT_FOUND        0x20001005   Interface or endpoint not found
//   LIBUSB_ERROR_BUSY             0x20001006   Device busy (claimed elsewhere)
//   LIBUSB_ERROR_OVERFLOW         0x20001008   Data overflow
//   LIBUSB_ERROR_PIPE             0x20001009   Pipe stalled
//   LIBUSB_ERROR_INTERRUPTED      0x2000100A   Interrupted
//   LIBUSB_ERROR_NOT_SUPPORTED    0x2000100C   Not supported
//   LIBUSB_ERROR_OTHER, any other 0x20001063   Other error
//   (transfer or pipe reset on a  0x20001100   No interface selected
//    device never opened)

#include "device/wdu/StandInBase.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct libusb_context;
struct libusb_device;

namespace wdu {

class LibusbStandIn : public StandInBase {
 public:
  LibusbStandIn();
  ~LibusbStandIn() override;

  static Status MapLibusbResult(int result);

  // libusb's hot-plug callback lands here (on the pump thread, or on the
  // registering thread for devices already present).
  void HandleHotplug(libusb_device* device, bool arrived);

 protected:
  std::uint32_t Version() const override;
  bool Start() override;
  void OnRegistered(const std::vector<MatchEntry>& matchTable) override;
  void OnUnregistered(const std::vector<MatchEntry>& matchTable) override;
  Status SelectInterface(std::uint32_t uniqueId, std::uint32_t interfaceNumber,
                         std::uint32_t alternateSetting) override;
  Status ResetPipe(std::uint32_t uniqueId, std::uint32_t pipe) override;
  Status Transfer(std::uint32_t uniqueId, TransferRecord& transfer) override;
  void ReleaseDevice(std::uint32_t uniqueId) override;

 private:
  struct Device;
  void Arrived(libusb_device* device);
  void Left(libusb_device* device);
  std::shared_ptr<Device> Find(std::uint32_t uniqueId);
  void Pump();
  void CloseLeftDevices();

  libusb_context* context_ = nullptr;
  std::thread pump_;
  std::atomic<bool> stopping_{false};

  std::mutex mutex_;  // guards the maps and lists below
  std::map<std::uint32_t, std::shared_ptr<Device>> devices_;
  std::map<libusb_device*, std::uint32_t> ids_;
  std::vector<std::shared_ptr<Device>> leftDevices_;  // closed by the pump thread
  std::multimap<std::pair<std::uint16_t, std::uint16_t>, int> hotplugHandles_;
};

}  // namespace wdu
