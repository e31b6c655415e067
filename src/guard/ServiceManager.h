// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the guard tells the service manager (systemd's notify protocol: one
// datagram of "NAME=value" lines to $NOTIFY_SOCKET): that it is ready, that it
// is still alive after every poll (the watchdog restarts it when that stops),
// that it stops, and a line of status for `systemctl status`.

#include <QByteArray>
#include <QString>

class IServiceManager {
 public:
  virtual ~IServiceManager() = default;
  virtual void Notify(const QByteArray& state) = 0;
  void Ready() { Notify("READY=1"); }
  void Alive() { Notify("WATCHDOG=1"); }
  void Stopping() { Notify("STOPPING=1"); }
  void Status(const QString& text) { Notify("STATUS=" + text.toUtf8()); }
};

// The socket named in the environment; without one (not started by systemd)
// nothing is sent. The variable is read once, at construction.
class SystemdNotifier : public IServiceManager {
 public:
  SystemdNotifier();
  ~SystemdNotifier() override;
  SystemdNotifier(const SystemdNotifier&) = delete;
  SystemdNotifier& operator=(const SystemdNotifier&) = delete;
  void Notify(const QByteArray& state) override;

 private:
  QByteArray address_;
  int fd_ = -1;
};
