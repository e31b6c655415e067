// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The status as scripts and monitoring read it: one JSON object (the answer
// to --status --json, and what the running instance sends over its socket),
// a short table for people, and the Prometheus text of the metrics file.
// Pure functions of a status view; nothing here touches a window or a file.
//
// The JSON field names and the metric names are an interface that users'
// scripts, dashboards and alert rules depend on: add, never rename.

#include "monitor/StatusSample.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

struct StatusView {
  QString version;       // the program's version, "1.22"
  StatusSample sample;   // the last decoded status reply; time invalid: none yet
  bool linkUp = true;
  QDateTime now;         // when the view is taken, for the reply's age
  // Who watches the unit: "desktop" (a control centre in a desktop session)
  // or "guard" (the system service).
  QString source = QStringLiteral("desktop");

  bool HasReply() const { return sample.time.isValid(); }
};

QJsonObject StatusJson(const StatusView& view);

// The table printed by --status, made from the JSON object the running
// instance sent (so that the client needs nothing else).
QString StatusTable(const QJsonObject& status);

// The whole metrics file, HELP and TYPE lines included. A reading the unit
// does not have is left out rather than written as a number.
QByteArray PrometheusText(const StatusView& view);
