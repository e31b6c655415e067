// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the guard service keeps its files, and what its own settings file
// (guard.conf, written by the administrator) asks of it. systemd hands the
// folders over in its environment; a guard started by hand or by a test
// without them uses the usual system places.

#include "device/UnitUsbId.h"

#include <QString>
#include <QStringList>

struct GuardFolders {
  QString state;          // logs, history, the sensor setup last handed over
  QString runtime;        // guard.sock
  QString configuration;  // guard.conf
};

// $STATE_DIRECTORY, $RUNTIME_DIRECTORY, $CONFIGURATION_DIRECTORY (the first
// of a list), else /var/lib/vornalith, /run/vornalith, /etc/vornalith.
GuardFolders GuardFoldersFromEnvironment();

struct GuardConfig {
  QString metricsFile;      // empty: none
  UsbIdPair unitIds = UnitUsbIds;
  // What could not be used, one sentence each; the guard runs on without it.
  QStringList problems;
};

// A missing file is the defaults, not a problem.
GuardConfig ReadGuardConfig(const QString& path);

// The guard's socket: in its runtime folder, or where VCC_GUARD_SOCKET names it.
QString GuardSocketPath(const GuardFolders& folders);
