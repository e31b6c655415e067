// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/LogindInhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
}  // namespace

LogindInhibitor::LogindInhibitor(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus) {}

LogindInhibitor::~LogindInhibitor() { Release(); }

void LogindInhibitor::Take() {
  if (!bus_.isConnected()) {
    emit settled();
    return;
  }
  // Listening first, so that a shutdown that starts while the lock is being
  // granted is not missed.
  bus_.connect(kService, kPath, kManager, QStringLiteral("PrepareForShutdown"), this,
               SLOT(OnPrepareForShutdown(bool)));
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("Inhibit"));
  call << QStringLiteral("shutdown") << QStringLiteral("Vornalith Control Centre")
       << QStringLiteral("Telling the cooling unit that the computer shuts down")
       << QStringLiteral("delay");
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, &LogindInhibitor::OnInhibitAnswer);
}

void LogindInhibitor::OnInhibitAnswer(QDBusPendingCallWatcher* watcher) {
  watcher->deleteLater();
  const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
  if (!reply.isError() && reply.value().isValid() && !released_ && fd_ < 0) {
    // Our own copy: the lock lasts until every copy is closed, and the reply's
    // goes with the reply.
    fd_ = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
  }
  emit settled();
}

void LogindInhibitor::Release() {
  released_ = true;
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

void LogindInhibitor::OnPrepareForShutdown(bool starting) {
  // false: a shutdown was called off. The program has closed by then, or was
  // never told; there is nothing to undo.
  if (!starting || prepared_) return;
  prepared_ = true;
  emit shutdownPrepared();
}
