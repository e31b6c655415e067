// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A way for scripted tests of the whole -sim program to work the simulated
// unit and look at the program while it runs, instead of clicking in its
// windows. It exists only when the environment names a command file
// (VCC_SIM_CONTROL=<file>), and only in the -sim program; the real program has
// nothing of it.
//
// The command file is appended to, one command a line, and read every 200 ms
// (a line still being written waits for the next read):
//   force <code>        impose a state or fault code (0..7, 80..87)
//   clear               the unit's own state again
//   sensor <n> <degC>   impose sensor n's reading (1..5)
//   unplug | plug       the cable
//   minimise            minimise the program's main window
//   handling <n>        choose warning handling item n, as a user would
//   close               close it, as its close button does
//   closemodal          close the message box on screen
//   report              write "<file>.window" (below)
// Beside it the program writes:
//   <file>.state     rewritten whenever it changes: the unit's state code and
//                    both front-panel lines (hex, as sent), and what a user
//                    would see: the main window shown, minimised, hidden or
//                    gone, and the text of the message box on screen;
//   <file>.window    on "report", replaced whole: "minimised=0|1 visible=0|1"
//                    and a "top <class>" line for each visible top-level window
//                    ("top QMessageBox <its text's first line>" for a box);
//   <file>.requests  every request the unit takes, one line of hex bytes each;
//   <file>.replies   every status reply the program receives, one line each:
//                    "state t1 t2 t3 t4 t5 front rear", temperatures in whole
//                    degrees as the control centre decodes them, "-" for none.

#include "app/Entry.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class QTimer;

namespace unitsim {

class SimulatedUnit;

// Adds the control to the options when the environment asks for it: the two
// logs from the start, the commands once the main window is there. The unit
// must outlive the control centre started with these options.
void AddTestControlIfAsked(EntryOptions& options, SimulatedUnit& unit);

class SimTestControl : public QObject {
  Q_OBJECT
 public:
  SimTestControl(SimulatedUnit& unit, QString commandFile, QWidget* window);
  ~SimTestControl() override;

  // Applies the lines added since the last call and reports the unit's state.
  void Poll();
  // Carries out one command; false when it is not understood.
  bool Apply(const QString& command);

 private:
  void WriteState();
  void WriteWindowReport();

  SimulatedUnit& unit_;
  QPointer<QWidget> window_;
  QString commandFile_;
  qint64 consumed_ = 0;
  QString lastState_;
  QTimer* timer_;
};

}  // namespace unitsim
