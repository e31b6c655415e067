// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kAppName = QStringLiteral("Vornalith Control Centre");
const QString kAppIcon = QStringLiteral("org.quelmark.VornalithControlCentre");
const QString kCancelShutdownAction = QStringLiteral("cancel-shutdown");
// A server that does not answer in this time has missed the moment anyway.
constexpr int kCallTimeoutMs = 5000;

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  if (bus_.isConnected()) {
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(OnActionInvoked(uint, QString)));
  }
}

void DesktopNotifier::Show(const Notice& notice) {
  if (!bus_.isConnected()) return;
  Slot& slot = slots_[static_cast<std::size_t>(notice.slot)];
  // Until the server has answered, the id to replace is not known: the
  // newest notice waits for it instead of stacking a second notification.
  if (slot.waiting) {
    slot.queued = notice;
    return;
  }
  Send(notice);
}

void DesktopNotifier::Send(const Notice& notice) {
  const auto index = static_cast<std::size_t>(notice.slot);
  Slot& slot = slots_[index];
  QStringList actions;
  if (notice.offersCancelShutdown) actions << kCancelShutdownAction << QStringLiteral("Cancel shutdown");
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(notice.critical ? 2 : 1)));
  const QString desktopEntry = QGuiApplication::desktopFileName();
  if (!desktopEntry.isEmpty()) hints.insert(QStringLiteral("desktop-entry"), desktopEntry);

  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  call << kAppName << slot.id << kAppIcon << notice.summary << notice.body << actions << hints
       << qint32(-1);
  slot.waiting = true;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, index](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    Slot& s = slots_[index];
    const QDBusPendingReply<uint> reply = *w;
    if (reply.isValid()) s.id = reply.value();
    s.waiting = false;
    if (s.queued) {
      const Notice next = *s.queued;
      s.queued.reset();
      Send(next);
    }
  });
}

void DesktopNotifier::OnActionInvoked(uint id, const QString& action) {
  const Slot& shutdown = slots_[static_cast<std::size_t>(NoticeSlot::Shutdown)];
  if (action == kCancelShutdownAction && id != 0 && id == shutdown.id) emit cancelShutdownRequested();
}
