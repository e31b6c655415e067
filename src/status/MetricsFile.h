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

class MetricsFile : public QObject {
  Q_OBJECT
 public:
  static constexpr int kLostLinkRewriteMs = 30000;
  using ErrorReporter = std::function<void(const QString& message)>;
  using Clock = std::function<QDateTime()>;

  // reportError gets the message without the "Error: " the box puts before it;
  // it is called once per run however often the file cannot be written.
  MetricsFile(const QString& path, const QString& version, const StatusSample& last, bool linkUp,
              ErrorReporter reportError, Clock now, QObject* parent = nullptr);

  void OnStatusSampled(const StatusSample& sample);
  void OnLinkStateChanged(bool up);

  // Writes the file now; false when it could not be written.
  bool Write();

  const QString& Path() const { return path_; }
  QTimer& LostLinkTimer() { return lostLinkTimer_; }

 private:
  QString path_;
  StatusView view_;
  ErrorReporter reportError_;
  Clock now_;
  QTimer lostLinkTimer_;
  bool errorReported_ = false;
};

// The metrics file chosen by the user: the command line's --metrics-file,
// else the settings file's text value "Metrics file"; empty: none.
QString ChosenMetricsFile(const QString& commandLinePath, const QString& settingsPath);
