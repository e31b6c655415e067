// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/HandOver.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kLogin1 = QStringLiteral("org.freedesktop.login1");

}  // namespace

QByteArray SetupLine(const StatusSample& sample) {
  QJsonArray sensors;
  for (const SensorSample& s : sample.sensors)
    sensors.append(QJsonObject{{QStringLiteral("name"), s.fitted ? s.name : QString()},
                               {QStringLiteral("higher"), s.higher},
                               {QStringLiteral("warning"), s.warningCelsius},
                               {QStringLiteral("shutdown"), s.shutdownCelsius}});
  return "setup " + QJsonDocument(QJsonObject{{QStringLiteral("sensors"), sensors}}).toJson(QJsonDocument::Compact) +
         '\n';
}

std::optional<HandedSetup> ParseSetup(const QByteArray& json) {
  const QJsonDocument document = QJsonDocument::fromJson(json);
  const QJsonArray sensors = document.object().value(QStringLiteral("sensors")).toArray();
  if (sensors.size() != 5) return std::nullopt;
  HandedSetup setup;
  for (int i = 0; i < 5; ++i) {
    const QJsonObject s = sensors.at(i).toObject();
    const QJsonValue warning = s.value(QStringLiteral("warning"));
    const QJsonValue shutdown = s.value(QStringLiteral("shutdown"));
    // Whole degrees a unit can reach; anything else is not a setup.
    if (!warning.isDouble() || !shutdown.isDouble() || std::abs(warning.toDouble()) > 200 ||
        std::abs(shutdown.toDouble()) > 200)
      return std::nullopt;
    HandedSensor& out = setup[static_cast<std::size_t>(i)];
    out.name = s.value(QStringLiteral("name")).toString().left(32);
    out.higher = s.value(QStringLiteral("higher")).toBool(true);
    out.warningCelsius = warning.toInt();
    out.shutdownCelsius = shutdown.toInt();
  }
  return setup;
}

bool LogindSessions::HasActiveLocalSession(uid_t uid) {
  QDBusConnection bus = QDBusConnection::systemBus();
  QDBusMessage list = QDBusMessage::createMethodCall(kLogin1, QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("ListSessions"));
  const QDBusMessage reply = bus.call(list, QDBus::Block, 2000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  // a(susso): id, uid, user, seat, object path
  const QDBusArgument sessions = reply.arguments().at(0).value<QDBusArgument>();
  QList<QDBusObjectPath> paths;
  sessions.beginArray();
  while (!sessions.atEnd()) {
    QString id, user, seat;
    uint sessionUid = 0;
    QDBusObjectPath path;
    sessions.beginStructure();
    sessions >> id >> sessionUid >> user >> seat >> path;
    sessions.endStructure();
    if (sessionUid == uid) paths << path;
  }
  sessions.endArray();
  for (const QDBusObjectPath& path : paths) {
    auto property = [&](const char* name) {
      QDBusMessage get = QDBusMessage::createMethodCall(kLogin1, path.path(),
                                                        QStringLiteral("org.freedesktop.DBus.Properties"),
                                                        QStringLiteral("Get"));
      get << QStringLiteral("org.freedesktop.login1.Session") << QString::fromLatin1(name);
      const QDBusMessage answer = bus.call(get, QDBus::Block, 2000);
      return answer.arguments().isEmpty() ? QVariant() : answer.arguments().at(0).value<QDBusVariant>().variant();
    };
    if (property("Active").toBool() && !property("Remote").toBool()) return true;
  }
  return false;
}

QString GuardShuttingDownText(int secondsLeft) {
  return QStringLiteral("The guard service is shutting the computer down in %1 s").arg(secondsLeft);
}
