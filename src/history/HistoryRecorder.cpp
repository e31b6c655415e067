// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/HistoryRecorder.h"

#include "monitor/StatusSample.h"

#include <QDebug>

void JournalHistoryNotice(QtMsgType type, const QString& text) {
  if (type == QtInfoMsg) {
    qInfo().noquote() << text;
  } else {
    qWarning().noquote() << text;
  }
}

HistoryRecorder::HistoryRecorder(const QString& path, Notify notify, QObject* parent)
    : QObject(parent), notify_(std::move(notify)) {
  store_ = std::make_unique<HistoryStore>(
      path,
      [this](const QString& reason) {
        if (notify_) notify_(QtWarningMsg, kHistoryNotSavedText.arg(reason));
      },
      [this] {
        if (notify_) notify_(QtInfoMsg, kHistorySavedAgainText);
      });
}

HistoryRecorder::~HistoryRecorder() = default;

HistoryPoint HistoryRecorder::Sampled(const StatusSample& sample) {
  const HistoryPoint point = ToHistoryPoint(sample);
  store_->Append(point, ToHistorySensors(sample));
  return point;
}

LinkEvent HistoryRecorder::LinkChanged(bool up, const QDateTime& at) {
  const LinkEvent event{at.toMSecsSinceEpoch(), up};
  store_->NoteLink(event.ms, event.up);
  return event;
}
