// SPDX-License-Identifier: GPL-3.0-or-later
// The control centre with the simulated unit behind its link, and the unit's
// own window beside it.

#include "SimEntry.h"
#include "SimTestControl.h"
#include "SimulatedUnit.h"
#include "app/CommandLine.h"
#include "app/Entry.h"

#include <chrono>

int main(int argc, char** argv) {
  // A command line that is not understood ends the start (the entry says
  // why) before the simulated unit is even made.
  if (!ParseCommandLine(CommandLineArguments(argc, argv)).error.isEmpty())
    return RunControlCentre(argc, argv, EntryOptions{});
  const auto seed = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  unitsim::SimulatedUnit unit(seed);
  // Without the run-in the program would start against a warm evaporator and
  // arm an emergency shutdown for a condition no real start can produce.
  unit.RunUntilBooted();

  // The unit's time runs with the wall clock from here on.
  unit.FollowWallClock();
  EntryOptions options = unitsim::MakeSimEntryOptions(unit);
  // Scripted tests of the whole program drive the unit through this.
  unitsim::AddTestControlIfAsked(options, unit);
  return RunControlCentre(argc, argv, options);
}
