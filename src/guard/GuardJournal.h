// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the guard tells the journal about the unit: each change of its state
// and status, each sensor reaching or leaving a limit, the alarm, the armed
// and the cancelled emergency shutdown, the link lost and back. Said on the
// change only, so a long warning is one line, not one per poll.

#include "monitor/StatusSample.h"

#include <QObject>
#include <QtGlobal>

#include <functional>

class GuardJournal : public QObject {
  Q_OBJECT
 public:
  using Say = std::function<void(QtMsgType type, const QString& text)>;
  explicit GuardJournal(Say say, QObject* parent = nullptr);

  void OnStatusSampled(const StatusSample& sample);
  void OnLinkStateChanged(bool up);

 private:
  Say say_;
  bool first_ = true;
  StatusSample last_;
};

// The program's messages at a level (qInfo, qWarning, qCritical).
void SayInJournal(QtMsgType type, const QString& text);
