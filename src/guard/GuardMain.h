// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The guard program's entry: its folders, guard.conf, the unit's link, the
// service manager, the socket and the signals, put together and run until
// systemd stops it. A build with another unit behind the link (the bench's
// simulated one) hands in its own.

#include "device/UnitUsbId.h"

#include <functional>
#include <memory>

class IPowerOff;
class IUnitLink;

struct GuardOptions {
  // Empty: the unit over USB, with the ids guard.conf names.
  std::function<std::unique_ptr<IUnitLink>(UsbIdPair unitIds)> makeLink;
  // Null: logind's power-off.
  IPowerOff* powerOff = nullptr;
};

int RunGuard(int argc, char** argv, const GuardOptions& options);
