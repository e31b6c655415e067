// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardSocket.h"

#include "guard/GuardJournal.h"
#include "guard/HandOver.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr qsizetype kMaxRequestLine = 64;
// A holder's setup line names five sensors.
constexpr qsizetype kMaxSetupLine = 4096;
constexpr int kPeerLineTimeoutMs = 5000;
constexpr std::size_t kMaxPeers = 32;

bool Address(const QString& path, sockaddr_un& addr) {
  const QByteArray name = QFile::encodeName(path);
  if (name.size() + 1 > static_cast<qsizetype>(sizeof addr.sun_path)) return false;
  addr = {};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
  return true;
}

// -1 when the kernel does not say.
long long PeerUid(int fd) {
  ucred cred{};
  socklen_t size = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || size != sizeof cred) return -1;
  return cred.uid;
}

}  // namespace

struct GuardSocket::Peer {
  int fd = -1;
  QByteArray buffer;
  std::unique_ptr<QSocketNotifier> notifier;
  std::unique_ptr<QTimer> timeout;
  bool answered = false;  // a status answer sent: the peer is closed once it has read it
  ~Peer() {
    notifier.reset();
    timeout.reset();
    if (fd >= 0) ::close(fd);
  }
};

GuardSocket::GuardSocket(QString path, StatusProvider status, QObject* parent)
    : QObject(parent), path_(std::move(path)), status_(std::move(status)) {}

GuardSocket::~GuardSocket() {
  peers_.clear();
  delete acceptNotifier_;
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    QFile::remove(path_);
  }
}

void GuardSocket::ServeHandOver(ILocalSessions* sessions, HandOver handOver) {
  sessions_ = sessions;
  handOver_ = std::move(handOver);
}

bool GuardSocket::Listen() {
  sockaddr_un addr{};
  if (!Address(path_, addr)) {
    SayInJournal(QtCriticalMsg, QStringLiteral("Cannot listen at %1: the path is too long").arg(path_));
    return false;
  }
  // A socket that answers belongs to a guard still running; one that does
  // not is left from a guard that was killed.
  {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answered = ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(probe);
    if (answered) {
      SayInJournal(QtCriticalMsg, QStringLiteral("Another guard listens at %1").arg(path_));
      return false;
    }
  }
  ::unlink(addr.sun_path);
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 64) != 0) {
    SayInJournal(QtCriticalMsg, QStringLiteral("Cannot listen at %1: %2").arg(path_, QString::fromLocal8Bit(std::strerror(errno))));
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  // Who may ask for what is decided per request, not by the file's mode
  // (systemd's UMask would keep the desktop's users out).
  ::chmod(addr.sun_path, 0666);
  acceptNotifier_ = new QSocketNotifier(listenFd_, QSocketNotifier::Read);
  connect(acceptNotifier_, &QSocketNotifier::activated, this, &GuardSocket::Accept);
  return true;
}

void GuardSocket::Accept() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;  // none left, or out of descriptors: the next peer is tried later
    if (peers_.size() >= kMaxPeers) {
      ::close(fd);
      continue;
    }
    auto peer = std::make_unique<Peer>();
    peer->fd = fd;
    peer->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(peer->notifier.get(), &QSocketNotifier::activated, this, [this, fd] { Read(fd); });
    peer->timeout = std::make_unique<QTimer>();
    peer->timeout->setSingleShot(true);
    connect(peer->timeout.get(), &QTimer::timeout, this, [this, fd] { Drop(fd); });
    peer->timeout->start(kPeerLineTimeoutMs);
    peers_[fd] = std::move(peer);
  }
}

void GuardSocket::Read(int fd) {
  const auto it = peers_.find(fd);
  if (it == peers_.end()) return;
  Peer& peer = *it->second;
  char chunk[1024];
  const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    Drop(fd);  // the other end has gone
    return;
  }
  if (n < 0) return;
  if (peer.answered) return;  // nothing more is listened to
  peer.buffer.append(chunk, n);
  const qsizetype limit = fd == holder_ ? kMaxSetupLine : kMaxRequestLine;
  qsizetype end;
  while ((end = peer.buffer.indexOf('\n')) >= 0) {
    const QByteArray line = peer.buffer.left(end).trimmed();
    peer.buffer.remove(0, end + 1);
    OnLine(peer, line);
    if (peers_.find(fd) == peers_.end() || peer.answered) return;
  }
  if (peer.buffer.size() > limit) Drop(fd);
}

void GuardSocket::Send(Peer& peer, const QByteArray& line) {
  // One short line into an empty socket buffer: it goes at once or not at all.
  const QByteArray out = line + '\n';
  if (::send(peer.fd, out.constData(), static_cast<std::size_t>(out.size()), MSG_NOSIGNAL) != out.size())
    SayInJournal(QtWarningMsg, QStringLiteral("A client of %1 could not be answered").arg(path_));
}

void GuardSocket::OnLine(Peer& peer, const QByteArray& line) {
  if (peer.fd == holder_) {
    if (line.startsWith("setup ") && handOver_.setup) handOver_.setup(line.mid(6));
    return;
  }
  peer.timeout->stop();
  if (line == "status") {
    Send(peer, status_());
    // The answer is read, then the peer closes; a peer that does not is
    // dropped when its time is up.
    ::shutdown(peer.fd, SHUT_WR);
    peer.answered = true;
    peer.timeout->start(kPeerLineTimeoutMs);
  } else if (line == "hand-over") {
    OnHandOver(peer);
  } else {
    Drop(peer.fd);
  }
}

void GuardSocket::OnHandOver(Peer& peer) {
  const long long uid = PeerUid(peer.fd);
  const bool allowed = uid == 0 || (uid > 0 && sessions_ && handOver_.release &&
                                    sessions_->HasActiveLocalSession(static_cast<uid_t>(uid)));
  QByteArray answer;
  if (!allowed) {
    SayInJournal(QtWarningMsg,
                 QStringLiteral("Refused the unit to user %1: only root or a user with an active local session "
                                "may have it")
                     .arg(uid));
    answer = "refused";
  } else if (holder_ >= 0) {
    answer = "busy";
  } else {
    answer = handOver_.release();
  }
  Send(peer, answer);
  if (answer != "released") {
    ::shutdown(peer.fd, SHUT_WR);
    peer.answered = true;
    peer.timeout->start(kPeerLineTimeoutMs);
    return;
  }
  holder_ = peer.fd;
  SayInJournal(QtInfoMsg, QStringLiteral("Gave the unit to the control centre of user %1").arg(uid));
}

void GuardSocket::Drop(int fd) {
  const auto it = peers_.find(fd);
  if (it == peers_.end()) return;
  // The notifier or the timer may be the one calling: they go once this
  // call is over.
  it->second->notifier->setEnabled(false);
  it->second->notifier.release()->deleteLater();
  it->second->timeout->stop();
  it->second->timeout.release()->deleteLater();
  peers_.erase(it);
  if (fd != holder_) return;
  // However the control centre ends, its end of the socket closes.
  holder_ = -1;
  SayInJournal(QtInfoMsg, QStringLiteral("The control centre has ended; the guard watches the unit again"));
  if (handOver_.takeBack) handOver_.takeBack();
}
