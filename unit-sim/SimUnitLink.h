// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's link to the unit when the unit is the simulated one: the same
// seam a USB unit sits behind, so the program cannot tell the two apart except
// by timing (a silent unit answers at once instead of after the time-out).

#include "SimulatedUnit.h"
#include "device/UnitLink.h"

#include <cstdint>

namespace unitsim {

enum class SimClock {
  Manual,     // model time moves only when someone calls Advance (tests)
  WallClock,  // model time keeps pace with the steady clock
};

class SimUnitLink : public IUnitLink {
 public:
  // What a read that got no answer returns: the driver's "TimeOut expired".
  static constexpr std::uint32_t kReadTimedOut = 0x20000015;

  explicit SimUnitLink(SimulatedUnit& unit, SimClock clock = SimClock::Manual);

  bool InstallDriverIfMissing() override;
  bool OpenUnit() override;
  std::uint32_t TransferPacket(const std::uint8_t* request, std::uint32_t length, std::uint8_t* reply,
                               std::uint32_t replyLength) override;
  std::uint32_t ResetLinkPipe(std::uint8_t pipe) override;
  void CloseUnit() override;

 private:
  SimulatedUnit& unit_;
  SimClock clock_;
};

}  // namespace unitsim
