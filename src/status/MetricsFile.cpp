// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/MetricsFile.h"

#include "config/SettingsKey.h"

#include <QSaveFile>

MetricsFile::MetricsFile(const QString& path, const QString& version, const StatusSample& last, bool linkUp,
                         ErrorReporter reportError, Clock now, QObject* parent)
    : QObject(parent), path_(path), reportError_(std::move(reportError)), now_(std::move(now)) {
  view_.version = version;
  view_.sample = last;
  view_.linkUp = linkUp;
  lostLinkTimer_.setInterval(kLostLinkRewriteMs);
  connect(&lostLinkTimer_, &QTimer::timeout, this, [this] { Write(); });
  if (!linkUp) lostLinkTimer_.start();
}

void MetricsFile::OnStatusSampled(const StatusSample& sample) {
  view_.sample = sample;
  Write();
}

void MetricsFile::OnLinkStateChanged(bool up) {
  view_.linkUp = up;
  if (up) {
    lostLinkTimer_.stop();
  } else {
    // Said at once, then kept fresh while the unit stays away.
    Write();
    lostLinkTimer_.start();
  }
}

bool MetricsFile::Write() {
  view_.now = now_();
  QSaveFile file(path_);
  // Readable by the collector, which often runs as a user of its own.
  if (file.open(QIODevice::WriteOnly)) {
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    file.write(PrometheusText(view_));
    if (file.commit()) return true;
  }
  if (!errorReported_) {
    errorReported_ = true;
    reportError_(QStringLiteral("Metrics file %1 cannot be written: %2").arg(path_, file.errorString()));
  }
  return false;
}

QString ChosenMetricsFile(const QString& commandLinePath, const QString& settingsPath) {
  if (!commandLinePath.isEmpty()) return commandLinePath;
  try {
    const SettingsKey key(settingsPath, SettingsKey::Open::Existing);
    if (key.IsOpen() && key.ValueExists(QStringLiteral("Metrics file")))
      return key.ReadString(QStringLiteral("Metrics file"));
  } catch (const SettingsError&) {
    // A metrics file that cannot be read from the settings is simply not
    // written; the program's own settings load reports a damaged file.
  }
  return QString();
}
