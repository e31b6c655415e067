// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/SystemServices.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QThread>

QDateTime SystemClock::Now() const { return QDateTime::currentDateTime(); }

void SystemClock::Pause(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

void SystemClock::ProcessPendingEvents() { QCoreApplication::processEvents(); }

void LogindPowerOff::RequestPowerOff() {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
  call << false;  // not interactive
  QDBusConnection::systemBus().send(call);
}
