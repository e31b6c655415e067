// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// For tests that run the -sim program as a whole: with VORNALITH_SIM_TEST_DIR
// set to a folder, the program
//   - appends every status reply the unit sends to <dir>/replies, one line
//     "state t1 t2 t3 t4 t5 front rear" (temperatures in whole degrees as the
//     control centre decodes them, "-" for no reading);
//   - carries out the lines of <dir>/command (the file is read and removed
//     every 100 ms): "unplug", "plug", "minimise", "report" (writes
//     <dir>/window: "minimised=0|1 visible=0|1" and the top-level windows);
// so a test can compare what the program says with what the unit sent, pull
// the cable and look at the main window without a display. Unset, nothing
// of this exists.

#include "app/Entry.h"

namespace unitsim {

class SimulatedUnit;

// Adds the hook to the options when the environment asks for it.
void AddTestHookIfAsked(EntryOptions& options, SimulatedUnit& unit);

}  // namespace unitsim
