// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Program entry shared by the two executables: the single-instance rule, the
// application set-up and the main window. The executables differ only in the
// link they hand in.

#include "device/UnitUsbId.h"

#include <functional>
#include <memory>

class IPowerOff;
class IUnitLink;
class QMainWindow;

struct EntryOptions {
  // The menu entry this program belongs to (its .desktop file name without
  // the ending), so that desktops match the window to its entry and icon.
  const char* desktopFileName = "org.quelmark.VornalithControlCentre";
  // Creates the link to the unit with the USB ids this start looks for
  // (a link that is not USB ignores them); called once the application
  // object exists.
  std::function<std::unique_ptr<IUnitLink>(UsbIdPair unitIds)> makeLink;
  // Creates what stands for the computer's power-off; empty: the system's own.
  std::function<std::unique_ptr<IPowerOff>()> makePowerOff;
  // Whether the guard service, which may be watching the same unit, is asked
  // to hand it over first (the simulated unit is nobody else's).
  bool askGuard = false;
  // Runs once the main window is up (the -sim build opens its unit window here).
  std::function<void(QMainWindow& mainWindow)> onMainWindowCreated;
};

int RunControlCentre(int argc, char** argv, const EntryOptions& options);
