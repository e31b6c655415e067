// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusQuery.h"

#include "core/SingleInstance.h"
#include "status/StatusReport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

QByteArray AskGuardStatus(const QString& path, int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  QLocalSocket socket;
  socket.connectToServer(path);
  if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) return {};
  socket.write("status\n");
  if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) return {};
  QByteArray answer;
  while (!answer.contains('\n') && socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
    answer += socket.readAll();
  answer += socket.readAll();
  return answer.trimmed();
}

QString DefaultGuardSocketPath() {
  const QString named = qEnvironmentVariable("VCC_GUARD_SOCKET");
  return named.isEmpty() ? QStringLiteral("/run/vornalith/guard.sock") : named;
}

int RunStatusQuery(int argc, char** argv, const QString& instanceKey, bool json) {
  QCoreApplication app(argc, argv);
  const SingleInstance instance(instanceKey);
  std::optional<QByteArray> answer = instance.AskStatus(kStatusAnswerTimeoutMs);
  // No control centre in this session: the guard service may be watching.
  if (!answer) {
    const QByteArray guard = AskGuardStatus(DefaultGuardSocketPath(), kStatusAnswerTimeoutMs);
    if (!guard.isEmpty()) answer = guard;
  }
  QJsonParseError error{};
  const QJsonDocument document =
      answer ? QJsonDocument::fromJson(*answer, &error) : QJsonDocument();
  if (!answer || error.error != QJsonParseError::NoError || !document.isObject()) {
    std::fputs("Vornalith Control Centre is not running\n", stderr);
    return kStatusNotRunningExit;
  }
  const QByteArray out = json ? QJsonDocument(document.object()).toJson(QJsonDocument::Indented)
                              : StatusTable(document.object()).toUtf8();
  std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
  std::fflush(stdout);
  return 0;
}
