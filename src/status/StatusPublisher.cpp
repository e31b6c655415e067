// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusPublisher.h"

#include <QJsonDocument>
#include <QMutexLocker>

StatusPublisher::StatusPublisher(const QString& source, const QString& version, const StatusSample& last,
                                 bool linkUp, Clock now, QObject* parent)
    : QObject(parent), now_(std::move(now)) {
  view_.version = version;
  view_.sample = last;
  view_.linkUp = linkUp;
  view_.source = source;
}

StatusPublisher::~StatusPublisher() {
  if (unbind_) unbind_();
}

void StatusPublisher::OnStatusSampled(const StatusSample& sample) {
  QMutexLocker locker(&mutex_);
  view_.sample = sample;
}

void StatusPublisher::OnLinkStateChanged(bool up) {
  QMutexLocker locker(&mutex_);
  view_.linkUp = up;
}

QByteArray StatusPublisher::Answer() const {
  StatusView view;
  {
    QMutexLocker locker(&mutex_);
    view = view_;
  }
  view.now = now_();
  return QJsonDocument(StatusJson(view)).toJson(QJsonDocument::Compact);
}
