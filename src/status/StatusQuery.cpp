// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusQuery.h"

#include "core/SingleInstance.h"
#include "status/StatusReport.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

int RunStatusQuery(int argc, char** argv, const QString& instanceKey, bool json) {
  QCoreApplication app(argc, argv);
  const SingleInstance instance(instanceKey);
  const std::optional<QByteArray> answer = instance.AskStatus(kStatusAnswerTimeoutMs);
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
