// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which USB ids this start looks for: --unit-id, else the "Unit USB id"
// setting, else the built-in pair. Decided before the application starts, so
// that a malformed pair ends the program before anything is shown or stored.

#include "device/UnitUsbId.h"

#include <QString>

#include <optional>

struct UnitUsbIdChoice {
  UsbIdPair ids = UnitUsbIds;
  // Set when the pair that wins is malformed: the message names the form
  // expected, and the program ends with exit code 2.
  QString error;
  // Set when the settings file is not read at all (not a regular file, too
  // big): the built-in pair is used, and the message says why.
  QString notice;
};

UnitUsbIdChoice ChooseUnitUsbId(const std::optional<QString>& commandLineId,
                                const QString& settingsPath);
