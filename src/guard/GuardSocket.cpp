// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardSocket.h"

#include "guard/GuardJournal.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {

constexpr qsizetype kMaxRequestLine = 64;
constexpr int kPeerLineTimeoutMs = 5000;
constexpr int kMaxPeers = 32;

}  // namespace

GuardSocket::GuardSocket(QString path, StatusProvider status, QObject* parent)
    : QObject(parent), path_(std::move(path)), status_(std::move(status)) {}

GuardSocket::~GuardSocket() {
  if (server_) {
    server_->close();
    QFile::remove(path_);
  }
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

void GuardSocket::Accept() {
  while (QLocalSocket* peer = server_->nextPendingConnection()) {
    if (peers_ >= kMaxPeers) {
      peer->abort();
      peer->deleteLater();
      continue;
    }
    ++peers_;
    connect(peer, &QObject::destroyed, this, [this] { --peers_; });
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    auto* timeout = new QTimer(peer);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, peer, [peer] { peer->abort(); peer->deleteLater(); });
    timeout->start(kPeerLineTimeoutMs);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer, timeout] {
      if (!peer->canReadLine()) {
        if (peer->bytesAvailable() > kMaxRequestLine) {
          peer->abort();
          peer->deleteLater();
        }
        return;
      }
      timeout->stop();
      OnLine(*peer, peer->readLine(kMaxRequestLine + 1).trimmed());
    });
  }
}

void GuardSocket::OnLine(QLocalSocket& peer, const QByteArray& line) {
  if (line == "status") {
    peer.write(status_() + '\n');
    peer.flush();
    peer.disconnectFromServer();
    return;
  }
  peer.abort();
  peer.deleteLater();
}
