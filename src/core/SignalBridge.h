// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// SIGTERM, SIGINT and SIGHUP (logout, system shutdown, a plain kill, Ctrl+C, a
// closed terminal) brought into the event loop. The handler only writes the
// signal's number into a pipe; a QSocketNotifier reads it on the GUI thread,
// so whatever the program does about a signal happens there, as soon as that
// thread is back in an event loop. A thread blocked in a pause or an exchange
// finishes it first: the handlers restart interrupted calls.

#include <QObject>

#include <signal.h>

class QSocketNotifier;

class SignalBridge : public QObject {
  Q_OBJECT
 public:
  explicit SignalBridge(QObject* parent = nullptr);
  // Puts back the dispositions that were there before.
  ~SignalBridge() override;
  SignalBridge(const SignalBridge&) = delete;
  SignalBridge& operator=(const SignalBridge&) = delete;

  // False when the pipe could not be made or another bridge is active; the
  // signals then keep their previous dispositions.
  bool Active() const { return notifier_ != nullptr; }

 signals:
  // Once per signal caught (a burst of the same signal may come as one).
  void received(int signalNumber);

 private:
  void Drain();
  int readFd_ = -1;
  int writeFd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  struct sigaction previous_[3] = {};
};
