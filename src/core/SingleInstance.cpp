// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QMutexLocker>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kConnectTimeoutMs = 1000;
constexpr char kRestoreCommand[] = "restore\n";
constexpr char kStatusCommand[] = "status\n";
// A peer that never ends its line is not kept for ever.
constexpr qsizetype kMaxRequestLine = 64;
// Every request is one short line written at once: a peer that has sent no
// whole line in this time is not going to, and is dropped.
constexpr int kPeerLineTimeoutMs = 5000;
// Far below any descriptor limit; beyond it a new peer is closed at once.
constexpr int kMaxPeers = 32;
constexpr int kListenBacklog = 64;
constexpr int kAcceptRetryMs = 250;

// A local socket's path must fit the kernel's address field; a deep runtime
// folder would make listening fail and quietly allow a second instance.
bool FitsSocketAddress(const QString& folder, const QString& name) {
  // One byte short of the address's size: bind() takes a path that fills it
  // to the last byte, but QLocalSocket, which a second start connects with,
  // calls that name invalid.
  return QFile::encodeName(folder + QLatin1Char('/') + name).size() + 1 <
         static_cast<qsizetype>(sizeof(sockaddr_un{}.sun_path));
}

// Nobody but this user can put a socket in it or listen there first. The
// folder itself is looked at, not where a link would lead.
bool IsPrivateFolder(const QString& folder) {
  struct stat st {};
  return ::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == ::getuid() && (st.st_mode & 0777) == 0700;
}

// Our own folder in the shared temporary folder. Its name can be guessed, so
// another user may have made it first: then it is not used at all.
QString PrivateFolderIn(const QString& temp) {
  const QString folder = temp + QStringLiteral("/vornalith-%1").arg(static_cast<qulonglong>(::getuid()));
  ::mkdir(QFile::encodeName(folder).constData(), 0700);
  if (IsPrivateFolder(folder)) return folder;
  qWarning("Vornalith Control Centre: %s is not this user's own folder with mode 0700; running without "
           "the guard against a second start",
           qPrintable(folder));
  return {};
}

struct SocketPlace {
  QString folder;  // empty: no private place
  QString base;    // file name of the socket and its lock, without the ending
};

// The runtime folder when it is the user's alone, or else our private folder
// in the temporary folder. There the name also carries a digest of the
// runtime folder it stands in for: programs with different runtime folders
// (other sessions, tests side by side) must not meet in the one fallback
// folder, while every start with the same runtime folder still finds the same
// socket.
SocketPlace ChooseSocketPlace(const QString& base) {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (!runtime.isEmpty()) ::mkdir(QFile::encodeName(runtime).constData(), 0700);
  if (!runtime.isEmpty() && IsPrivateFolder(runtime) && FitsSocketAddress(runtime, base + QStringLiteral(".sock")))
    return {runtime, base};
  const QString standIn =
      base + QLatin1Char('-') +
      QString::fromLatin1(QCryptographicHash::hash(runtime.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
  QString temp = QDir::tempPath();
  if (!FitsSocketAddress(temp + QStringLiteral("/vornalith-%1").arg(static_cast<qulonglong>(::getuid())),
                         standIn + QStringLiteral(".sock")))
    temp = QStringLiteral("/tmp");
  return {PrivateFolderIn(temp), standIn};
}

// A peer of another user is never believed nor served. Only possible where
// someone with more rights than ours put it there, but cheap to rule out.
bool PeerIsThisUser(qintptr fd, const char* role) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid())
    return true;
  qWarning("Vornalith Control Centre: ignored a %s of user %lld on the instance socket", role,
           static_cast<long long>(size == sizeof peer ? peer.uid : -1));
  return false;
}

int OpenSpare() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

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
  if (!place.folder.isEmpty()) {
    serverName_ = place.folder + QLatin1Char('/') + place.base + QStringLiteral(".sock");
    lockPath_ = place.folder + QLatin1Char('/') + place.base + QStringLiteral(".lock");
  }
  listenerThread_.setObjectName(QStringLiteral("instance socket"));
}

SingleInstance::~SingleInstance() {
  if (listenerThread_.isRunning()) {
    // The notifier and the peers belong to the listener's thread: they end there.
    QMetaObject::invokeMethod(listener_, [this] {
      delete listener_;
      listener_ = nullptr;
      QThread::currentThread()->quit();
    });
    listenerThread_.wait();
  }
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    ::unlink(QFile::encodeName(serverName_).constData());
  }
  if (spareFd_ >= 0) ::close(spareFd_);
}

bool SingleInstance::TryBecomePrimary() {
  // Without a private folder, a start that ended here would leave the unit
  // unwatched whenever another user wished it: two control centres are the
  // lesser harm.
  if (serverName_.isEmpty()) return true;

  // The lock makes "look for a running instance, else start listening" one
  // step, so two starts at the same moment cannot both become the primary.
  QLockFile lock(lockPath_);
  lock.setStaleLockTime(30000);
  const bool locked = lock.tryLock(10000);

  QLocalSocket probe;
  probe.connectToServer(serverName_);
  if (probe.waitForConnected(kConnectTimeoutMs) && PeerIsThisUser(probe.socketDescriptor(), "listener")) {
    probe.write(kRestoreCommand);
    probe.waitForBytesWritten(kConnectTimeoutMs);
    probe.disconnectFromServer();
    return false;
  }
  probe.abort();

  // Nobody answers: whatever socket file is left belongs to a process that
  // has ended.
  const bool listening = Listen();
  if (locked) lock.unlock();
  // Not being able to listen must not keep the user from the program; it only
  // loses the protection against a second start.
  if (!listening) {
    qWarning("Vornalith Control Centre: cannot listen on %s (%s); running without the guard against a "
             "second start",
             qPrintable(serverName_), std::strerror(errno));
    return true;
  }
  listener_ = new QObject;
  listener_->moveToThread(&listenerThread_);
  connect(&listenerThread_, &QThread::started, listener_, [this] {
    auto* notifier = new QSocketNotifier(listenFd_, QSocketNotifier::Read, listener_);
    connect(notifier, &QSocketNotifier::activated, listener_, [this, notifier] { AcceptPending(*notifier); });
  });
  listenerThread_.start();
  return true;
}

bool SingleInstance::Listen() {
  const QByteArray path = QFile::encodeName(serverName_);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= static_cast<qsizetype>(sizeof address.sun_path)) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  ::unlink(path.constData());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(path.constData(), 0600) != 0 || ::listen(fd, kListenBacklog) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return false;
  }
  listenFd_ = fd;
  spareFd_ = OpenSpare();
  return true;
}

void SingleInstance::AcceptPending(QSocketNotifier& notifier) {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      acceptFailing_ = false;
      Serve(fd);
      continue;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    const int error = errno;
    if (!acceptFailing_)
      qWarning("Vornalith Control Centre: the instance socket cannot take a connection (%s); it goes on "
               "listening",
               std::strerror(error));
    acceptFailing_ = true;
    // Out of descriptors: the spare one takes the waiting peer and closes it,
    // so that it learns at once and the queue never fills up (a second start
    // that found it full would take this instance for gone).
    if ((error == EMFILE || error == ENFILE) && spareFd_ >= 0) {
      ::close(spareFd_);
      const int turnedAway = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (turnedAway >= 0) ::close(turnedAway);
      spareFd_ = OpenSpare();
      if (turnedAway >= 0 && spareFd_ >= 0) continue;
    }
    // Anything else (or no spare left): listening goes on after a pause
    // instead of the notifier firing in a loop.
    notifier.setEnabled(false);
    QTimer::singleShot(kAcceptRetryMs, &notifier, [&notifier] { notifier.setEnabled(true); });
    return;
  }
}

void SingleInstance::Serve(int fd) {
  if (!PeerIsThisUser(fd, "client")) {
    ::close(fd);
    return;
  }
  if (peers_ >= kMaxPeers) {
    if (!full_)
      qWarning("Vornalith Control Centre: %d connections wait on the instance socket; more are closed at once",
               kMaxPeers);
    full_ = true;
    ::close(fd);
    return;
  }
  full_ = false;
  auto* peer = new QLocalSocket(listener_);
  if (!peer->setSocketDescriptor(fd)) {
    delete peer;
    return;
  }
  ++peers_;
  connect(peer, &QObject::destroyed, listener_, [this] { --peers_; });
  connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
  auto* silence = new QTimer(peer);
  silence->setSingleShot(true);
  connect(silence, &QTimer::timeout, peer, [peer] {
    peer->abort();
    peer->deleteLater();
  });
  silence->start(kPeerLineTimeoutMs);
  auto readLines = [this, peer, silence] {
    while (peer->canReadLine()) {
      silence->start();
      OnRequestLine(*peer, peer->readLine().trimmed());
    }
    if (peer->bytesAvailable() > kMaxRequestLine) {
      peer->abort();
      peer->deleteLater();
    }
  };
  connect(peer, &QLocalSocket::readyRead, peer, readLines);
  // A peer that wrote and left at once: what it sent is already here.
  readLines();
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
  if (serverName_.isEmpty()) return std::nullopt;
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(MsLeft(deadline))) return std::nullopt;
  if (!PeerIsThisUser(socket.socketDescriptor(), "listener")) return std::nullopt;
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

// Its meta-object code here rather than with the library's others: a program
// that never uses the class never links it (nor the socket library it needs).
#include "moc_SingleInstance.cpp"
