// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the driver layer talks to instead of a kernel device: something that
// can be opened like the driver and answers its requests (a control code and
// the request's record, which it may fill in) with a status. One stand-in
// serves real units over libusb, another hosts the simulated unit; tests put a
// recording fake here.
//
// A stand-in is used from several threads at once: the caller's thread, the
// layer's event thread, and whatever thread the stand-in itself reports
// devices on.

#include "device/wdu/WduTypes.h"

#include <cstdint>

namespace wdu {

using DriverFd = int;
constexpr DriverFd kInvalidDriverFd = -1;

class DriverStandIn {
 public:
  virtual ~DriverStandIn() = default;

  // kInvalidDriverFd when the driver cannot be opened.
  virtual DriverFd Open() = 0;
  virtual void Close(DriverFd fd) = 0;

  virtual Status Request(DriverFd fd, std::uint32_t controlCode, void* record,
                         std::uint32_t recordSize) = 0;
};

}  // namespace wdu
