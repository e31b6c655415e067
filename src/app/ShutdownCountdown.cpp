// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ShutdownCountdown.h"

#include "app/LinkLostView.h"
#include "app/TForm1.h"
#include "monitor/StatusSample.h"

#include <algorithm>

ShutdownCountdown::ShutdownCountdown(TForm1& form, LinkLostView& line, QObject* parent)
    : QObject(parent), form_(form), line_(line) {
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &ShutdownCountdown::Tick);
  connect(&form_, &TForm1::statusSampled, this, &ShutdownCountdown::OnStatusSampled);
}

QString ShutdownCountdown::Text(qint64 secondsLeft) {
  secondsLeft = std::max<qint64>(secondsLeft, 0);
  return kPowerOffCountdownText.arg(QStringLiteral("%1:%2").arg(secondsLeft / 60).arg(secondsLeft % 60, 2, 10,
                                                                                      QLatin1Char('0')));
}

void ShutdownCountdown::OnStatusSampled(const StatusSample& sample) {
  if (!sample.shutdownArmed) {
    if (!deadline_.isValid()) return;
    deadline_ = QDateTime();
    timer_.stop();
    line_.SetLineOverride(QString());
    return;
  }
  // Taken once, when the shutdown is armed: later samples only say it still
  // is, and the count must not jump with the moment a reply happened to come.
  if (deadline_.isValid()) return;
  deadline_ = form_.Clock().Now().addSecs(sample.shutdownSecondsLeft);
  timer_.start();
  Tick();
}

void ShutdownCountdown::Tick() {
  if (!deadline_.isValid()) return;
  // Rounded up, as the shutdown's own seconds are: "0:00" only when it is due.
  const qint64 ms = form_.Clock().Now().msecsTo(deadline_);
  line_.SetLineOverride(Text((ms + 999) / 1000));
}
