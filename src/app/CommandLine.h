// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's own command-line options. Anything else on the command line
// (Qt's -platform, -style ...) is left for QApplication.

#include <QString>
#include <QStringList>

#include <optional>

struct CommandLine {
  bool status = false;     // --status: ask the running instance, print, exit
  bool json = false;       // --json (with --status)
  bool findUnit = false;   // --find-unit: list candidate USB devices, exit
  std::optional<QString> unitId;  // --unit-id VVVV:PPPP, as typed
  QString metricsFile;     // --metrics-file PATH
  // Set when an option is malformed (a value missing); the program prints it
  // and ends with exit code 2.
  QString error;
};

// args[0] is the program name, as in argv.
CommandLine ParseCommandLine(const QStringList& args);
