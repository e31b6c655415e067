// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The computer behind the seams that need no desktop: the system clock and
// logind's power-off. The window and the guard service both use them.

#include "core/Services.h"

class SystemClock : public IClock {
 public:
  QDateTime Now() const override;
  void Pause(int ms) override;
  void ProcessPendingEvents() override;
};

// logind's PowerOff on the system bus; the answer is not awaited.
class LogindPowerOff : public IPowerOff {
 public:
  void RequestPowerOff() override;
};
