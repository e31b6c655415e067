// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window closed "by the system": a termination signal, logind announcing
// a shutdown or reboot, or the desktop session ending. Each closes the main
// window once, through its normal close path, so that the unit gets its
// running hours and a blank front panel before the program ends.
//
// The close waits for a moment when it is safe:
// - while the emergency shutdown sequence runs (its pause and the last notice
//   to the unit must come first), the window's own test says not now;
// - a modal box or dialog is answered as if cancelled, so that the handler
//   that opened it can finish before the window goes away under it.
// A second request while closing does nothing.

#include "session/LogindInhibitor.h"
#include "core/SignalBridge.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class SessionEnd : public QObject {
  Q_OBJECT
 public:
  // Catches the signals at once and asks logind on the given bus for its lock.
  explicit SessionEnd(const QDBusConnection& systemBus = QDBusConnection::systemBus(),
                      QObject* parent = nullptr);
  ~SessionEnd() override;

  // The window to close, and whether it may be closed right now. A request
  // that came before this is carried out once the event loop runs.
  void Watch(QWidget& window, std::function<bool()> mayCloseNow);
  // The window's close path has run (by whatever way it was closed): the
  // logind lock is let go, and later requests do nothing.
  void WindowClosed();

  // What a signal or logind's announcement does; the first one counts.
  void Request();
  bool Requested() const { return requested_; }

  const SignalBridge& Signals() const { return signals_; }

 private:
  void Attempt();
  static bool DismissModal();

  SignalBridge signals_;
  LogindInhibitor inhibitor_;
  QTimer retry_;
  QPointer<QWidget> window_;
  std::function<bool()> mayCloseNow_;
  bool requested_ = false;
  bool closing_ = false;
  bool closed_ = false;
};
