// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's own command-line options, and Qt's, which are left on the
// command line for QApplication. Anything else ends the start: a mistyped
// option would otherwise be ignored without a word.

#include <QString>
#include <QStringList>

#include <optional>

struct CommandLine {
  bool status = false;     // --status: ask the running instance, print, exit
  bool json = false;       // --json (with --status)
  bool findUnit = false;   // --find-unit: list candidate USB devices, exit
  std::optional<QString> unitId;  // --unit-id VVVV:PPPP, as typed
  QString metricsFile;     // --metrics-file PATH
  bool minimized = false;  // --minimized: start in the notification area (the session's autostart)
  // Set when the command line is not understood (an unknown option or
  // argument, an option without its value), naming the program and the
  // option; the program prints it and ends with exit code 2.
  QString error;
};

// args[0] is the program name, as in argv.
CommandLine ParseCommandLine(const QStringList& args);

// argv as the parser takes it.
QStringList CommandLineArguments(int argc, char** argv);
