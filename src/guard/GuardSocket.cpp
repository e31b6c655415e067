// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardSocket.h"

#include "guard/GuardJournal.h"
#include "guard/HandOver.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

constexpr qsizetype kMaxRequestLine = 64;
// A holder's setup line names five sensors.
constexpr qsizetype kMaxSetupLine = 4096;
constexpr int kPeerLineTimeoutMs = 5000;
constexpr int kMaxPeers = 32;

// -1 when the kernel does not say.
long long PeerUid(const QLocalSocket& peer) {
  ucred cred{};
  socklen_t size = sizeof cred;
  if (::getsockopt(static_cast<int>(peer.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 ||
      size != sizeof cred)
    return -1;
  return cred.uid;
}

}  // namespace

GuardSocket::GuardSocket(QString path, StatusProvider status, QObject* parent)
    : QObject(parent), path_(std::move(path)), status_(std::move(status)) {}

GuardSocket::~GuardSocket() {
  if (server_) {
    server_->close();
    QFile::remove(path_);
  }
}

void GuardSocket::ServeHandOver(ILocalSessions* sessions, HandOver handOver) {
  sessions_ = sessions;
  handOver_ = std::move(handOver);
}

bool GuardSocket::Listen() {
  // A socket that answers belongs to a guard still running; one that does
  // not is left from a guard that was killed.
  {
    QLocalSocket probe;
    probe.connectToServer(path_);
    if (probe.waitForConnected(500)) {
      SayInJournal(QtCriticalMsg, QStringLiteral("Another guard listens at %1").arg(path_));
      return false;
    }
  }
  QLocalServer::removeServer(path_);
  server_ = new QLocalServer(this);
  // Who may ask for what is decided per request, not by the file's mode.
  server_->setSocketOptions(QLocalServer::WorldAccessOption);
  if (!server_->listen(path_)) {
    SayInJournal(QtCriticalMsg, QStringLiteral("Cannot listen at %1: %2").arg(path_, server_->errorString()));
    delete server_;
    server_ = nullptr;
    return false;
  }
  connect(server_, &QLocalServer::newConnection, this, &GuardSocket::Accept);
  return true;
}

void GuardSocket::Drop(QLocalSocket& peer) {
  peer.abort();
  peer.deleteLater();
}

void GuardSocket::Accept() {
  while (QLocalSocket* peer = server_->nextPendingConnection()) {
    if (peers_ >= kMaxPeers) {
      Drop(*peer);
      continue;
    }
    ++peers_;
    connect(peer, &QObject::destroyed, this, [this] { --peers_; });
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    auto* timeout = new QTimer(peer);
    timeout->setObjectName(QStringLiteral("line timeout"));
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, this, [this, peer] { Drop(*peer); });
    timeout->start(kPeerLineTimeoutMs);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
      const qsizetype limit = peer == holder_ ? kMaxSetupLine : kMaxRequestLine;
      while (peer->canReadLine() && peer->state() == QLocalSocket::ConnectedState)
        OnLine(*peer, peer->readLine(limit + 1).trimmed());
      if (peer->bytesAvailable() > limit) Drop(*peer);
    });
  }
}

void GuardSocket::OnLine(QLocalSocket& peer, const QByteArray& line) {
  if (&peer == holder_) {
    if (line.startsWith("setup ") && handOver_.setup) handOver_.setup(line.mid(6));
    return;
  }
  if (auto* timeout = peer.findChild<QTimer*>(QStringLiteral("line timeout"))) timeout->stop();
  if (line == "status") {
    peer.write(status_() + '\n');
    peer.flush();
    peer.disconnectFromServer();
  } else if (line == "hand-over") {
    OnHandOver(peer);
  } else {
    Drop(peer);
  }
}

void GuardSocket::OnHandOver(QLocalSocket& peer) {
  const long long uid = PeerUid(peer);
  const bool allowed =
      uid == 0 || (uid > 0 && sessions_ && handOver_.release && sessions_->HasActiveLocalSession(static_cast<uid_t>(uid)));
  QByteArray answer;
  if (!allowed) {
    SayInJournal(QtWarningMsg,
                 QStringLiteral("Refused the unit to user %1: only root or a user with an active local session "
                                "may have it")
                     .arg(uid));
    answer = "refused";
  } else if (holder_) {
    answer = "busy";
  } else {
    answer = handOver_.release();
  }
  peer.write(answer + '\n');
  peer.flush();
  if (answer != "released") {
    peer.disconnectFromServer();
    return;
  }
  holder_ = &peer;
  SayInJournal(QtInfoMsg, QStringLiteral("Gave the unit to the control centre of user %1").arg(uid));
  // However the control centre ends, its end of the socket closes.
  connect(&peer, &QLocalSocket::disconnected, this, [this, &peer] {
    if (holder_ != &peer) return;
    holder_ = nullptr;
    SayInJournal(QtInfoMsg, QStringLiteral("The control centre has ended; the guard watches the unit again"));
    if (handOver_.takeBack) handOver_.takeBack();
  });
}
