// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kConnectTimeoutMs = 1000;
constexpr char kRestoreCommand[] = "restore\n";

// A local socket's path must fit the kernel's address field; a deep runtime
// folder would make listening fail and quietly allow a second instance.
bool FitsSocketAddress(const QString& folder, const QString& name) {
  return QFile::encodeName(folder + QLatin1Char('/') + name).size() <
         static_cast<qsizetype>(sizeof(sockaddr_un{}.sun_path));
}

QString SocketFolder(const QString& socketName) {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty() || !QDir().mkpath(dir) || !FitsSocketAddress(dir, socketName)) dir = QDir::tempPath();
  if (!FitsSocketAddress(dir, socketName)) dir = QStringLiteral("/tmp");
  return dir;
}

}  // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent) : QObject(parent) {
  const QByteArray digest =
      QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
  const QString base = QStringLiteral("vornalith-%1-%2")
                           .arg(QString::fromLatin1(digest))
                           .arg(static_cast<qulonglong>(::getuid()));
  const QString folder = SocketFolder(base + QStringLiteral(".sock"));
  serverName_ = folder + QLatin1Char('/') + base + QStringLiteral(".sock");
  lockPath_ = folder + QLatin1Char('/') + base + QStringLiteral(".lock");
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
}

bool SingleInstance::TryBecomePrimary() {
  // The lock makes "look for a running instance, else start listening" one
  // step, so two starts at the same moment cannot both become the primary.
  QLockFile lock(lockPath_);
  lock.setStaleLockTime(30000);
  const bool locked = lock.tryLock(10000);

  QLocalSocket probe;
  probe.connectToServer(serverName_);
  if (probe.waitForConnected(kConnectTimeoutMs)) {
    probe.write(kRestoreCommand);
    probe.waitForBytesWritten(kConnectTimeoutMs);
    probe.disconnectFromServer();
    return false;
  }

  // Nobody answers: whatever socket file is left belongs to a process that
  // has ended.
  QLocalServer::removeServer(serverName_);
  const bool listening = server_.listen(serverName_);
  if (locked) lock.unlock();
  // Not being able to listen must not keep the user from the program; it only
  // loses the protection against a second start.
  (void)listening;
  return true;
}

void SingleInstance::OnNewConnection() {
  while (QLocalSocket* peer = server_.nextPendingConnection()) {
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
      if (peer->readAll().contains("restore")) emit restoreRequested();
    });
    if (peer->bytesAvailable() > 0 && peer->readAll().contains("restore")) emit restoreRequested();
  }
}
