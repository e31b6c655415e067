// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// While an emergency power-off is armed, the line above the System tab's
// readings counts down to it each second, and says how to stop it. Display
// only: the shutdown keeps its own timer, and the unit, the settings and the
// logs see nothing of this.

#include <QDateTime>
#include <QObject>
#include <QTimer>

class TForm1;
class LinkLostView;
struct StatusSample;

inline const QString kPowerOffCountdownText =
    QStringLiteral("Emergency power-off in %1 - close the control centre to cancel");

class ShutdownCountdown : public QObject {
  Q_OBJECT
 public:
  ShutdownCountdown(TForm1& form, LinkLostView& line, QObject* parent = nullptr);

  void OnStatusSampled(const StatusSample& sample);
  // One second of the countdown (its timer's tick).
  void Tick();
  // "m:ss"; never below 0:00.
  static QString Text(qint64 secondsLeft);

 private:
  TForm1& form_;
  LinkLostView& line_;
  QTimer timer_;
  QDateTime deadline_;  // invalid: not armed
};
