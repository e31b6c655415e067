// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/ServiceManager.h"

#include <QtGlobal>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

SystemdNotifier::SystemdNotifier() : address_(qgetenv("NOTIFY_SOCKET")) {
  if (address_.isEmpty()) return;
  // A path, or an abstract name written with a leading '@'.
  if (address_.size() >= static_cast<qsizetype>(sizeof(sockaddr_un{}.sun_path)) ||
      (address_[0] != '/' && address_[0] != '@')) {
    qWarning("NOTIFY_SOCKET=%s is not a socket the guard can use", address_.constData());
    address_.clear();
    return;
  }
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

SystemdNotifier::~SystemdNotifier() {
  if (fd_ >= 0) ::close(fd_);
}

void SystemdNotifier::Notify(const QByteArray& state) {
  if (fd_ < 0) return;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, address_.constData(), static_cast<std::size_t>(address_.size()));
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + static_cast<std::size_t>(address_.size()));
  // A full or absent receiver must never hold the watch up.
  ::sendto(fd_, state.constData(), static_cast<std::size_t>(state.size()), MSG_NOSIGNAL | MSG_DONTWAIT,
           reinterpret_cast<const sockaddr*>(&addr), length);
}
