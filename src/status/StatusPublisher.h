// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps the latest status for the instance socket: fed on the window's thread
// from the status samples and link changes, read on the socket's thread when
// a `--status` start asks. The answer is one compact JSON object.

#include "core/SingleInstance.h"
#include "status/StatusReport.h"

#include <QMutex>
#include <QObject>

#include <functional>


class StatusPublisher : public QObject {
  Q_OBJECT
 public:
  using Clock = std::function<QDateTime()>;

  // Answers the instance's status requests from now until destroyed. (Here,
  // so that a program without the instance socket never links it.)
  StatusPublisher(SingleInstance& instance, const QString& version, const StatusSample& last, bool linkUp,
                  Clock now, QObject* parent = nullptr)
      : StatusPublisher(QStringLiteral("desktop"), version, last, linkUp, std::move(now), parent) {
    instance.SetStatusProvider([this] { return Answer(); });
    unbind_ = [&instance] { instance.SetStatusProvider({}); };
  }
  // Only keeps it, for whoever asks Answer(); says it comes from `source`.
  StatusPublisher(const QString& source, const QString& version, const StatusSample& last, bool linkUp,
                  Clock now, QObject* parent = nullptr);
  ~StatusPublisher() override;

  void OnStatusSampled(const StatusSample& sample);
  void OnLinkStateChanged(bool up);

  // Safe to call from any thread.
  QByteArray Answer() const;

 private:
  std::function<void()> unbind_;
  Clock now_;
  mutable QMutex mutex_;
  StatusView view_;
};
