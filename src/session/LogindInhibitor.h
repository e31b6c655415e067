// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// logind's "delay" lock on shutdown and reboot: logind tells the program that
// the computer is about to go down (PrepareForShutdown) and waits a few
// seconds for the lock to be released, time in which the close path tells the
// unit. Never a "block" lock: the program must not stand in the way of a
// shutdown or a logout. Without a system bus, without logind or with the lock
// refused, nothing happens and nothing is reported.

#include <QDBusConnection>
#include <QObject>

class QDBusPendingCallWatcher;

class LogindInhibitor : public QObject {
  Q_OBJECT
 public:
  explicit LogindInhibitor(const QDBusConnection& bus, QObject* parent = nullptr);
  ~LogindInhibitor() override;

  // Asks for the lock; the answer comes later (start-up does not wait for it).
  void Take();
  // Closes the lock's file descriptor; a lock granted after this is dropped
  // at once.
  void Release();
  bool Held() const { return fd_ >= 0; }

 signals:
  // The computer shuts down or reboots; emitted once.
  void shutdownPrepared();
  // The answer to Take() has been handled (held or not).
  void settled();

 private slots:
  void OnPrepareForShutdown(bool starting);

 private:
  void OnInhibitAnswer(QDBusPendingCallWatcher* watcher);
  QDBusConnection bus_;
  int fd_ = -1;
  bool released_ = false;
  bool prepared_ = false;
};
