// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardJournal.h"

#include <QDebug>

namespace {

QtMsgType LevelOf(StatusColour colour) {
  switch (colour) {
    case StatusColour::Red: return QtCriticalMsg;
    case StatusColour::Orange: return QtWarningMsg;
    default: return QtInfoMsg;
  }
}

QString Reading(const SensorSample& sensor) {
  return sensor.celsius ? QStringLiteral("%1 °C").arg(*sensor.celsius) : QStringLiteral("no reading");
}

}  // namespace

void SayInJournal(QtMsgType type, const QString& text) {
  switch (type) {
    case QtCriticalMsg:
    case QtFatalMsg: qCritical().noquote() << text; break;
    case QtWarningMsg: qWarning().noquote() << text; break;
    default: qInfo().noquote() << text; break;
  }
}

GuardJournal::GuardJournal(Say say, QObject* parent) : QObject(parent), say_(std::move(say)) {}

void GuardJournal::OnStatusSampled(const StatusSample& sample) {
  if (first_ || sample.unitCaption != last_.unitCaption)
    say_(QtInfoMsg, QStringLiteral("Unit: %1").arg(sample.unitCaption));
  if (first_ || sample.statusCaption != last_.statusCaption || sample.statusColour != last_.statusColour)
    say_(LevelOf(sample.statusColour),
         QStringLiteral("Status: %1 (%2)").arg(sample.statusCaption, StatusColourName(sample.statusColour)));
  for (const SensorSample& sensor : sample.sensors) {
    const SensorSample& before = last_.sensor(sensor.number == 0 ? 1 : sensor.number);
    if (!sensor.fitted || (!first_ && sensor.level == before.level)) continue;
    if (sensor.level == 2)
      say_(QtCriticalMsg, QStringLiteral("%1 at %2 reached its shut-down limit (%3 °C)")
                              .arg(sensor.name, Reading(sensor))
                              .arg(sensor.shutdownCelsius));
    else if (sensor.level == 1)
      say_(QtWarningMsg, QStringLiteral("%1 at %2 reached its warning limit (%3 °C)")
                             .arg(sensor.name, Reading(sensor))
                             .arg(sensor.warningCelsius));
    else if (!first_)
      say_(QtInfoMsg, QStringLiteral("%1 is back within its limits (%2)").arg(sensor.name, Reading(sensor)));
  }
  if (sample.warningRaised && (first_ || !last_.warningRaised))
    say_(QtWarningMsg, QStringLiteral("Alarm: %1").arg(sample.statusCaption));
  if (sample.shutdownArmed && (first_ || !last_.shutdownArmed))
    say_(QtCriticalMsg, QStringLiteral("Emergency shutdown armed: the computer is powered off in %1 s")
                            .arg(sample.shutdownSecondsLeft));
  else if (!sample.shutdownArmed && !first_ && last_.shutdownArmed)
    say_(QtWarningMsg, QStringLiteral("Emergency shutdown cancelled: %1").arg(sample.statusCaption));
  first_ = false;
  last_ = sample;
}

void GuardJournal::OnLinkStateChanged(bool up) {
  if (up)
    say_(QtInfoMsg, QStringLiteral("The unit answers again"));
  else
    say_(QtWarningMsg, QStringLiteral("No reply from the unit"));
}
