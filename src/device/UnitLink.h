// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The seam between the packet transaction and whatever carries its bytes: the
// USB link to a real unit, or the simulated unit. The transaction needs only
// these operations of the link.

#include "device/UnitUsbId.h"

#include <cstdint>
#include <optional>

class IUnitLink {
 public:
  virtual ~IUnitLink() = default;

  // Makes sure the unit can be reached by a normal user (access rule present);
  // true when nothing had to be installed.
  virtual bool InstallDriverIfMissing() = 0;

  // True when the unit is attached and its interface selected.
  virtual bool OpenUnit() = 0;

  // Sends `length` request bytes to the unit, then reads up to `replyLength`
  // bytes of its answer into `reply`. Returns the number of bytes received, the
  // non-zero status of a failed read, or 0 when the write failed.
  virtual std::uint32_t TransferPacket(const std::uint8_t* request, std::uint32_t length,
                                       std::uint8_t* reply, std::uint32_t replyLength) = 0;

  // Clears a stalled pipe (0x02 or 0x81); returns the status of the reset.
  virtual std::uint32_t ResetLinkPipe(std::uint8_t pipe) = 0;

  virtual void CloseUnit() = 0;

  // The USB ids the link looks for; none for a link that is not USB.
  virtual std::optional<UsbIdPair> UnitIds() const { return std::nullopt; }
};
