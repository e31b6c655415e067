// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the -sim program hands the control centre's entry: the simulated unit
// behind the driver layer, the unit's own window beside the main one, and a
// power-off that only says what would happen. Kept apart from main() so that
// tests can check what the program would run with.

#include "app/Entry.h"

#include <memory>

class IPowerOff;

namespace unitsim {

class SimulatedUnit;

// The unit must outlive the control centre started with these options.
EntryOptions MakeSimEntryOptions(SimulatedUnit& unit);

// Shows and logs the power-off instead of asking the system for it.
std::unique_ptr<IPowerOff> MakeSimulatedPowerOff();

}  // namespace unitsim
