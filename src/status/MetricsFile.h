// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Prometheus metrics file: rewritten after every decoded status reply and,
// while the link is lost, at least every 30 s, so that the file's age tells a
// stalled program from a lost unit. Each write goes to a temporary file in the
// same folder that then replaces the old one, so a reader (node_exporter's
// textfile collector) never sees half a file; the temporary name does not end
// in ".prom", so the collector never picks it up.

#include "status/StatusReport.h"

#include <QObject>
#include <QTimer>

#include <functional>

inline const QString kMetricsNotWrittenText = QStringLiteral("Metrics file not written: %1");

class MetricsFile : public QObject {
  Q_OBJECT
 public:
  static constexpr int kLostLinkRewriteMs = 30000;
  // Tells the user a notice (the status bar, the program's messages).
  using Notifier = std::function<void(const QString& text)>;
  using Clock = std::function<QDateTime()>;

  // notify gets "Metrics file not written: <reason>" once for each reason in
  // a row, however often the file cannot be written for it: a fault that
  // lasts is said once, a new one is said again, a success says nothing. A
  // notice rather than a box: the file is a convenience, the watch of the
  // unit must never wait on it.
  MetricsFile(const QString& path, const QString& version, const StatusSample& last, bool linkUp,
              Notifier notify, Clock now, QObject* parent = nullptr);

  void OnStatusSampled(const StatusSample& sample);
  void OnLinkStateChanged(bool up);

  // Writes the file now; false when it could not be written.
  bool Write();

  const QString& Path() const { return path_; }
  QTimer& LostLinkTimer() { return lostLinkTimer_; }

 private:
  QString path_;
  StatusView view_;
  Notifier notify_;
  Clock now_;
  QTimer lostLinkTimer_;
  QString reasonSaid_;
};

// The metrics file chosen by the user: the command line's --metrics-file,
// else the settings file's text value "Metrics file"; empty: none.
QString ChosenMetricsFile(const QString& commandLinePath, const QString& settingsPath);
