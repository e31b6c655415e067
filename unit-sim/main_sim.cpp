// SPDX-License-Identifier: GPL-3.0-or-later
// The control centre with the simulated unit behind its link, and the unit's
// own window beside it.

#include "SimEntry.h"
#include "SimTestHook.h"
#include "SimulatedUnit.h"
#include "app/Entry.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// A real unit holds the computer's boot back until its evaporator is cold, so
// the control centre always meets a unit that has finished its boot delay.
// Without this run-in the program would start against a warm evaporator and
// arm an emergency shutdown for a condition no real start can produce.
void RunUntilBooted(unitsim::SimulatedUnit& unit) {
  constexpr int kLimitSeconds = 1800;
  for (int s = 0; s < kLimitSeconds; ++s) {
    const std::uint8_t state = unit.State();
    if (state != 0 && state != 2) break;  // POWER UP, BOOT DELAY
    unit.Advance(1.0);
  }
}

// With VCC_SIM_PACKET_LOG naming a file, every request the unit takes is
// appended to it as one line of hex bytes: a plain record of what the program
// sent, for tests and for anyone watching the protocol.
void LogRequestsIfAsked(unitsim::SimulatedUnit& unit) {
  const char* path = std::getenv("VCC_SIM_PACKET_LOG");
  if (!path || !*path) return;
  std::shared_ptr<std::FILE> file(std::fopen(path, "ae"), [](std::FILE* f) {
    if (f) std::fclose(f);
  });
  if (!file) return;
  unit.SetRequestObserver([file](const std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) std::fprintf(file.get(), i ? " %02x" : "%02x", data[i]);
    std::fputc('\n', file.get());
    std::fflush(file.get());
  });
}

}  // namespace

int main(int argc, char** argv) {
  const auto seed = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  unitsim::SimulatedUnit unit(seed);
  RunUntilBooted(unit);

  // The unit's time runs with the wall clock from here on.
  unit.FollowWallClock();
  LogRequestsIfAsked(unit);
  EntryOptions options = unitsim::MakeSimEntryOptions(unit);
  unitsim::AddTestHookIfAsked(options, unit);
  return RunControlCentre(argc, argv, options);
}
