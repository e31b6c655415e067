// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimUnitLink.h"

#include <algorithm>

namespace unitsim {

SimUnitLink::SimUnitLink(SimulatedUnit& unit, SimClock clock) : unit_(unit), clock_(clock) {
  if (clock_ == SimClock::WallClock) unit_.FollowWallClock();
}

bool SimUnitLink::InstallDriverIfMissing() { return true; }

bool SimUnitLink::OpenUnit() { return unit_.IsPlugged(); }

std::uint32_t SimUnitLink::TransferPacket(const std::uint8_t* request, std::uint32_t length,
                                          std::uint8_t* reply, std::uint32_t replyLength) {
  // The unit must have lived up to this moment before it hears the request.
  if (clock_ == SimClock::WallClock) unit_.SyncToWallClock();
  if (!unit_.Receive(request, length)) return 0;
  const std::vector<std::uint8_t> answer = unit_.Transmit(replyLength);
  if (answer.empty()) return kReadTimedOut;
  std::copy(answer.begin(), answer.end(), reply);
  return static_cast<std::uint32_t>(answer.size());
}

std::uint32_t SimUnitLink::ResetLinkPipe(std::uint8_t) { return 0; }

void SimUnitLink::CloseUnit() {}

}  // namespace unitsim
