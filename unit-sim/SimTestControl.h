// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A way for scripted tests to work the simulated unit's knobs while the -sim
// program runs, instead of clicking in its window. Only started when the
// environment names a command file (VCC_SIM_CONTROL); the real program has
// nothing of it.
//
// The command file is appended to, one command a line:
//   force <code>        impose a state or fault code (0..7, 80..87)
//   clear               the unit's own state again
//   sensor <n> <degC>   impose sensor n's reading
//   unplug | plug       the cable
//   minimize            minimise the program's window (the parent)
//   close               close it, as its close button does
//   closemodal          close the message box on screen
// Beside it, "<file>.state" is rewritten with what the unit shows (its state
// code and both front-panel lines, hex, as sent) and what a user would see
// (the window shown, minimised or hidden; the text of the message box on
// screen), after each poll and when the control ends with the window.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class QTimer;

namespace unitsim {

class SimulatedUnit;

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

  SimulatedUnit& unit_;
  QPointer<QWidget> window_;
  QString commandFile_;
  qint64 consumed_ = 0;
  QString lastState_;
  QTimer* timer_;
};

}  // namespace unitsim
