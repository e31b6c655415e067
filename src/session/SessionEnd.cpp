// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/SessionEnd.h"

#include <QApplication>
#include <QDialog>
#include <QThread>

#ifndef QT_NO_SESSIONMANAGER
#include <QSessionManager>
#endif

namespace {
// How often a waiting close looks again; well inside the 2 s a closing
// desktop can be kept waiting by a box on screen.
constexpr int kRetryMs = 100;
}  // namespace

SessionEnd::SessionEnd(const QDBusConnection& systemBus, QObject* parent)
    : QObject(parent), inhibitor_(systemBus) {
  retry_.setInterval(kRetryMs);
  connect(&retry_, &QTimer::timeout, this, &SessionEnd::Attempt);
  connect(&signals_, &SignalBridge::received, this, &SessionEnd::Request);
  connect(&inhibitor_, &LogindInhibitor::shutdownPrepared, this, &SessionEnd::Request);
#ifndef QT_NO_SESSIONMANAGER
  // The session manager asks before a logout whether it may go on. The answer
  // is always yes: nothing is kept from the user, no question is asked. The
  // close path runs when the session then really ends (the application is
  // told to quit, or a signal follows).
  connect(qApp, &QGuiApplication::commitDataRequest, this, [](QSessionManager&) {});
#endif
  inhibitor_.Take();
}

SessionEnd::~SessionEnd() = default;

void SessionEnd::Watch(QWidget& window, std::function<bool()> mayCloseNow) {
  window_ = &window;
  mayCloseNow_ = std::move(mayCloseNow);
  // A request that came during start-up is carried out by the retry timer,
  // that is once the event loop runs and the window is up.
}

void SessionEnd::WindowClosed() {
  closed_ = true;
  retry_.stop();
  inhibitor_.Release();
}

void SessionEnd::Request() {
  if (requested_ || closed_) return;
  requested_ = true;
  retry_.start();
  Attempt();
}

bool SessionEnd::DismissModal() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal) return false;
  if (auto* dialog = qobject_cast<QDialog*>(modal)) {
    dialog->reject();
  } else {
    modal->close();
  }
  return true;
}

void SessionEnd::Attempt() {
  if (closed_) {
    retry_.stop();
    return;
  }
  // A box opened on the way, even one the close path itself opens, must not
  // hold the program up.
  if (DismissModal()) return;
  if (closing_ || !window_) return;
  if (mayCloseNow_ && !mayCloseNow_()) return;
  // Still inside a handler's nested event loop (the box just dismissed has
  // not returned yet): once it has, the next look closes.
  if (QThread::currentThread()->loopLevel() > 1) return;
  closing_ = true;
  window_->close();  // the close path runs inside
  closing_ = false;
  WindowClosed();
}
