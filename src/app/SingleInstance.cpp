// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMutexLocker>
#include <QStandardPaths>

#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kConnectTimeoutMs = 1000;
constexpr char kRestoreCommand[] = "restore\n";
constexpr char kStatusCommand[] = "status\n";
// A peer that never ends its line is not kept for ever.
constexpr qsizetype kMaxRequestLine = 64;

// A local socket's path must fit the kernel's address field; a deep runtime
// folder would make listening fail and quietly allow a second instance.
bool FitsSocketAddress(const QString& folder, const QString& name) {
  return QFile::encodeName(folder + QLatin1Char('/') + name).size() <
         static_cast<qsizetype>(sizeof(sockaddr_un{}.sun_path));
}

struct SocketPlace {
  QString folder;
  QString base;  // file name of the socket and its lock, without the ending
};

// The runtime folder, or where it is too deep for a socket address the
// temporary folder. There the name also carries a digest of the runtime
// folder it stands in for: programs with different runtime folders (other
// sessions, tests side by side) must not meet in the one shared folder, while
// every start with the same runtime folder still finds the same socket.
SocketPlace ChooseSocketPlace(const QString& base) {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (!runtime.isEmpty() && QDir().mkpath(runtime) && FitsSocketAddress(runtime, base + QStringLiteral(".sock")))
    return {runtime, base};
  const QString standIn =
      base + QLatin1Char('-') +
      QString::fromLatin1(QCryptographicHash::hash(runtime.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
  QString dir = QDir::tempPath();
  if (!FitsSocketAddress(dir, standIn + QStringLiteral(".sock"))) dir = QStringLiteral("/tmp");
  return {dir, standIn};
}

int MsLeft(const QDeadlineTimer& deadline) {
  return static_cast<int>(qMax<qint64>(0, deadline.remainingTime()));
}

}  // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent) : QObject(parent) {
  const QByteArray digest =
      QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
  const QString base = QStringLiteral("vornalith-%1-%2")
                           .arg(QString::fromLatin1(digest))
                           .arg(static_cast<qulonglong>(::getuid()));
  const SocketPlace place = ChooseSocketPlace(base);
  serverName_ = place.folder + QLatin1Char('/') + place.base + QStringLiteral(".sock");
  lockPath_ = place.folder + QLatin1Char('/') + place.base + QStringLiteral(".lock");
  listenerThread_.setObjectName(QStringLiteral("instance socket"));
}

SingleInstance::~SingleInstance() {
  if (!listenerThread_.isRunning()) {
    delete server_;
    return;
  }
  // The server and its peers belong to the listener's thread: they end there.
  QMetaObject::invokeMethod(server_, [this] {
    delete server_;
    server_ = nullptr;
    QThread::currentThread()->quit();
  });
  listenerThread_.wait();
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
  server_ = new QLocalServer;
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  const bool listening = server_->listen(serverName_);
  if (locked) lock.unlock();
  // Not being able to listen must not keep the user from the program; it only
  // loses the protection against a second start.
  if (listening) {
    connect(server_, &QLocalServer::newConnection, server_, [this] { OnNewConnection(); });
    server_->moveToThread(&listenerThread_);
    listenerThread_.start();
  }
  return true;
}

void SingleInstance::SetStatusProvider(StatusProvider provider) {
  // Taken while a request is being answered, so that a provider being
  // withdrawn is no longer running once this returns.
  QMutexLocker locker(&providerMutex_);
  provider_ = std::move(provider);
}

QByteArray SingleInstance::StatusAnswer() {
  QMutexLocker locker(&providerMutex_);
  return provider_ ? provider_() : QByteArray();
}

void SingleInstance::OnNewConnection() {
  while (QLocalSocket* peer = server_->nextPendingConnection()) {
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    auto readLines = [this, peer] {
      while (peer->canReadLine()) OnRequestLine(*peer, peer->readLine().trimmed());
      if (peer->bytesAvailable() > kMaxRequestLine) peer->abort();
    };
    connect(peer, &QLocalSocket::readyRead, peer, readLines);
    // A peer that wrote and left at once: what it sent is already here.
    readLines();
  }
}

void SingleInstance::OnRequestLine(QLocalSocket& peer, const QByteArray& line) {
  if (line == "restore") {
    emit restoreRequested();
  } else if (line == "status") {
    peer.write(StatusAnswer() + '\n');
    peer.disconnectFromServer();
  }
}

std::optional<QByteArray> SingleInstance::AskStatus(int timeoutMs) const {
  const QDeadlineTimer deadline(timeoutMs);
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(MsLeft(deadline))) return std::nullopt;
  socket.write(kStatusCommand);
  if (!socket.waitForBytesWritten(MsLeft(deadline))) return std::nullopt;
  QByteArray answer;
  while (!answer.contains('\n')) {
    if (socket.bytesAvailable() == 0 && (socket.state() != QLocalSocket::ConnectedState ||
                                         deadline.hasExpired() ||
                                         !socket.waitForReadyRead(MsLeft(deadline)))) {
      answer += socket.readAll();
      break;
    }
    answer += socket.readAll();
  }
  if (!answer.contains('\n')) return std::nullopt;
  return answer.left(answer.indexOf('\n'));
}
