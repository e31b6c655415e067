// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/MetricsFile.h"

#include "config/SettingsKey.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

MetricsFile::MetricsFile(const QString& path, const QString& version, const StatusSample& last, bool linkUp,
                         Notifier notify, Clock now, QObject* parent)
    : QObject(parent), path_(path), notify_(std::move(notify)), now_(std::move(now)) {
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
  // A temporary file in the same folder, renamed over the old one: readers
  // see the old file or the new one, never a part. Unlike QSaveFile it is not
  // synced to disk: the file is rewritten every few seconds, and a sync would
  // hold the window's thread for as long as the disk takes (milliseconds
  // here, far longer on a busy disk).
  QTemporaryFile file(path_ + QStringLiteral(".XXXXXX"));
  QString error;
  const QFileInfo target(path_);
  if (target.exists() && !target.isFile()) {
    // The rename would put a regular file in place of a device node, a pipe
    // or a folder; run as root that destroys a node of the system.
    error = QStringLiteral("it is not a regular file");
  } else if (!file.open()) {
    error = file.errorString();
  } else {
    // Readable by the collector, which often runs as a user of its own.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    const QByteArray text = PrometheusText(view_);
    if (file.write(text) != text.size() || !file.flush()) {
      error = file.errorString();
    } else if (std::rename(QFile::encodeName(file.fileName()).constData(),
                           QFile::encodeName(path_).constData()) != 0) {
      error = QString::fromLocal8Bit(std::strerror(errno));
    } else {
      file.setAutoRemove(false);  // it is the metrics file now
      return true;
    }
  }
  const QString reason = path_ + QStringLiteral(": ") + error;
  if (reason != reasonSaid_) {
    reasonSaid_ = reason;
    notify_(kMetricsNotWrittenText.arg(reason));
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
