// SPDX-License-Identifier: GPL-3.0-or-later
// The guard program with the simulated unit behind its link (bench/idle):
// the guard as it runs at boot, but against a unit that is not on this
// machine. It never asks for the power-off.

#include "SimDriver.h"
#include "SimulatedUnit.h"
#include "core/Services.h"
#include "device/UsbLink.h"
#include "guard/GuardMain.h"

#include <QDebug>

namespace {

class NoPowerOff : public IPowerOff {
 public:
  void RequestPowerOff() override { qWarning("(the bench's guard asks nobody to power off)"); }
};

}  // namespace

int main(int argc, char** argv) {
  unitsim::SimulatedUnit unit(1);
  unit.RunUntilBooted();
  unit.FollowWallClock();
  NoPowerOff powerOff;
  GuardOptions options;
  options.makeLink = [&unit](UsbIdPair) { return MakeStandInLink(std::make_unique<unitsim::SimDriver>(unit)); };
  options.powerOff = &powerOff;
  return RunGuard(argc, argv, options);
}
