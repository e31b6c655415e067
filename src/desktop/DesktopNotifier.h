// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shows notices through the desktop's notification server
// (org.freedesktop.Notifications on the session bus). Each slot keeps the id
// the server gave its last notification, so the next one in that slot
// replaces it. Without a session bus or a notification server nothing
// happens and nothing is reported: notifications are a courtesy.

#include "desktop/NotificationPolicy.h"

#include <QDBusConnection>
#include <QObject>

#include <array>
#include <optional>

class DesktopNotifier : public QObject {
  Q_OBJECT
 public:
  explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);

  void Show(const Notice& notice);

 signals:
  // The user chose "Cancel shutdown" on the armed-shutdown notification.
  void cancelShutdownRequested();

 private slots:
  void OnActionInvoked(uint id, const QString& action);

 private:
  struct Slot {
    uint id = 0;
    bool waiting = false;           // a Notify call has not been answered yet
    std::optional<Notice> queued;   // the newest notice asked for meanwhile
  };
  void Send(const Notice& notice);

  QDBusConnection bus_;
  std::array<Slot, kNoticeSlotCount> slots_{};
};
