// SPDX-License-Identifier: GPL-3.0-or-later
// The socket a running control centre listens on brings its window forward
// for whoever connects. Only its own user may: the socket file is the user's
// alone, its folder cannot be written by others, and a process of another
// user is refused (checked for real when the tests run as root).

#include "core/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <optional>

#include <csignal>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr uid_t kOtherUser = 65534;  // "nobody"

struct stat StatOf(const QString& path) {
  struct stat st {};
  EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
  return st;
}

// Tries to connect to the socket as another user, in a child process; the
// connect's errno, or 0 when it got through.
int ConnectAsOtherUser(const QString& socketPath) {
  const QByteArray path = QFile::encodeName(socketPath);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) ::_exit(100);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::_exit(rc == 0 ? 0 : (errno & 0x7f));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Points the runtime folder elsewhere for as long as it lives.
class RuntimeFolder {
 public:
  explicit RuntimeFolder(const QString& path) : saved_(qgetenv("XDG_RUNTIME_DIR")) {
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path));
  }
  ~RuntimeFolder() { qputenv("XDG_RUNTIME_DIR", saved_); }

 private:
  QByteArray saved_;
};

class InstanceSocketAccess : public ::testing::Test {
 protected:
  QString Key() const {
    return QStringLiteral("access-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
  }

  void ExpectOwnersOnly(SingleInstance& instance) {
    const QString socket = instance.ServerName();
    const struct stat st = StatOf(socket);
    EXPECT_TRUE(S_ISSOCK(st.st_mode)) << socket.toStdString();
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_EQ(st.st_mode & 077, 0u) << "socket mode " << std::oct << (st.st_mode & 07777);

    // Nobody else can put a socket of their own in its place.
    const struct stat folder = StatOf(QFileInfo(socket).absolutePath());
    EXPECT_TRUE((folder.st_mode & S_ISVTX) || (folder.st_mode & 022) == 0)
        << "folder mode " << std::oct << (folder.st_mode & 07777);

    // The lock that makes the start one step is gone once the start is made.
    QString lock = socket;
    lock.replace(QStringLiteral(".sock"), QStringLiteral(".lock"));
    EXPECT_FALSE(QFileInfo::exists(lock)) << lock.toStdString();

    if (::geteuid() == 0) {
      EXPECT_EQ(ConnectAsOtherUser(socket), EACCES) << "another user reached the socket";
    }
  }

  // The first start listens on a socket of its user's alone; the same user's
  // second start finds it.
  void ExpectOneInstanceOwnersOnly() {
    const QString key = Key();
    SingleInstance first(key);
    ASSERT_TRUE(first.TryBecomePrimary());
    ExpectOwnersOnly(first);
    SingleInstance second(key);
    EXPECT_FALSE(second.TryBecomePrimary());
  }
};

TEST_F(InstanceSocketAccess, TheSocketInTheRuntimeFolderIsTheUsersAlone) {
  ExpectOneInstanceOwnersOnly();
}

TEST_F(InstanceSocketAccess, InAFolderOthersCanEnterTheSocketItselfRefusesThem) {
  // A runtime folder with wrong permissions, or the temporary folder it falls
  // back to: only the socket's own mode stands between the user and others.
  QTemporaryDir open;
  ASSERT_TRUE(open.isValid());
  ASSERT_TRUE(QFile::setPermissions(open.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                     QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                     QFile::ExeOther));
  const RuntimeFolder runtime(open.path());
  SingleInstance instance(Key());
  ASSERT_TRUE(instance.TryBecomePrimary());
  ExpectOwnersOnly(instance);
}

TEST_F(InstanceSocketAccess, AFallbackFolderThatIsALinkIsNotUsed) {
  // Whoever could make the folder could listen in it first: no guard rather
  // than a start that another user decides on.
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString elsewhere = tmp.path() + QStringLiteral("/elsewhere");
  ASSERT_TRUE(QDir().mkdir(elsewhere));
  ASSERT_TRUE(QFile::setPermissions(elsewhere, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  ASSERT_TRUE(QFile::link(elsewhere, tmp.path() + QStringLiteral("/vornalith-%1").arg(::getuid())));
  const QByteArray savedTmp = qgetenv("TMPDIR");
  qputenv("TMPDIR", QFile::encodeName(tmp.path()));
  {
    QString deep = tmp.path() + QStringLiteral("/runtime");
    while (deep.size() < 140) deep += QStringLiteral("/a-rather-long-folder-name");
    ASSERT_TRUE(QDir().mkpath(deep));
    ASSERT_TRUE(QFile::setPermissions(deep, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const RuntimeFolder runtime(deep);
    const QString key = Key();
    SingleInstance first(key);
    SingleInstance second(key);
    EXPECT_TRUE(first.TryBecomePrimary());
    EXPECT_TRUE(second.TryBecomePrimary());
    EXPECT_TRUE(first.ServerName().isEmpty());
  }
  qputenv("TMPDIR", savedTmp);
  EXPECT_TRUE(QDir(elsewhere).isEmpty());
}

TEST_F(InstanceSocketAccess, APeerOfAnotherUserIsNeitherBelievedNorServed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const RuntimeFolder runtime(folder.path());
  const QString key = Key();
  const QByteArray path = QFile::encodeName(SingleInstance(key).ServerName());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);

  // Only someone with more rights than ours can put another user's listener
  // in our folder; here the test lets it in and locks the folder again.
  ASSERT_EQ(::chmod(QFile::encodeName(folder.path()).constData(), 0777), 0);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t listener = ::fork();
  if (listener == 0) {
    if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) ::_exit(100);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) ::_exit(101);
    (void)!::write(ready[1], "r", 1);
    for (;;) {
      const int peer = ::accept(fd, nullptr, nullptr);
      char request[16];
      (void)!::read(peer, request, sizeof request);
      constexpr char kMadeUp[] = "{\"version\": \"made up\"}\n";
      (void)!::write(peer, kMadeUp, sizeof kMadeUp - 1);
      ::close(peer);
    }
  }
  char r = 0;
  EXPECT_EQ(::read(ready[0], &r, 1), 1);
  ::chmod(QFile::encodeName(folder.path()).constData(), 0700);

  SingleInstance ours(key);
  EXPECT_FALSE(ours.AskStatus(2000).has_value()) << "the answer of another user's listener was believed";
  EXPECT_TRUE(ours.TryBecomePrimary()) << "another user's listener ended the start";
  ::kill(listener, SIGKILL);
  ::waitpid(listener, nullptr, 0);

  // The other way round: a client of another user that got through to the
  // socket (here with its modes opened) hears nothing.
  ours.SetStatusProvider([] { return QByteArray("secret"); });
  ASSERT_EQ(::chmod(path.constData(), 0666), 0);
  ::chmod(QFile::encodeName(folder.path()).constData(), 0755);
  const pid_t client = ::fork();
  if (client == 0) {
    if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) ::_exit(100);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(101);
    (void)!::write(fd, "status\n", 7);
    char answer[16];
    ::_exit(::read(fd, answer, sizeof answer) > 0 ? 1 : 0);
  }
  int status = -1;
  ::waitpid(client, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another user's client was served";
}

TEST_F(InstanceSocketAccess, ADeepRuntimeFolderStillAllowsOnlyOneInstance) {
  // A socket address holds about 107 bytes; a runtime folder deeper than that
  // must not leave the program without its guard against a second start.
  QTemporaryDir base;
  ASSERT_TRUE(base.isValid());
  QString deep = base.path();
  while (deep.size() < 140) deep += QStringLiteral("/a-rather-long-folder-name");
  ASSERT_TRUE(QDir().mkpath(deep));
  ASSERT_TRUE(QFile::setPermissions(deep, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  const RuntimeFolder runtime(deep);
  ExpectOneInstanceOwnersOnly();
}

TEST_F(InstanceSocketAccess, ARuntimeFolderAtTheAddressLimitStillAllowsOnlyOneInstance) {
  // bind() takes a socket address filled to its last byte but Qt's client
  // does not: at exactly that depth the second start found nothing and ran
  // as a second control centre. Each depth around the limit, one instance.
  QTemporaryDir base;
  ASSERT_TRUE(base.isValid());
  const qsizetype nameLength = [&] {
    const RuntimeFolder runtime(base.path());
    return QFileInfo(SingleInstance(Key()).ServerName()).fileName().size();
  }();
  for (qsizetype address = 100; address <= 110; ++address) {
    QString folder = base.path() + QStringLiteral("/d%1-").arg(address);
    const qsizetype length = address - nameLength - 1;
    ASSERT_LT(folder.size(), length);
    folder += QString(length - folder.size(), QLatin1Char('x'));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const RuntimeFolder runtime(folder);
    SCOPED_TRACE(address);
    ExpectOneInstanceOwnersOnly();
  }
}

TEST_F(InstanceSocketAccess, TwoDeepRuntimeFoldersDoNotMeetInTheTemporaryFolder) {
  // Both stand in with the temporary folder; programs of different runtime
  // folders (tests side by side in a deep build tree) must not take each
  // other for the running instance.
  QTemporaryDir base;
  ASSERT_TRUE(base.isValid());
  QStringList deep{base.path() + QStringLiteral("/a"), base.path() + QStringLiteral("/b")};
  for (QString& d : deep) {
    while (d.size() < 140) d += QStringLiteral("/a-rather-long-folder-name");
    ASSERT_TRUE(QDir().mkpath(d));
    ASSERT_TRUE(QFile::setPermissions(d, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  }
  const QString key = Key();
  std::optional<RuntimeFolder> runtime(std::in_place, deep[0]);
  SingleInstance first(key);
  ASSERT_TRUE(first.TryBecomePrimary());
  runtime.reset();
  runtime.emplace(deep[1]);
  SingleInstance other(key);
  EXPECT_TRUE(other.TryBecomePrimary()) << "a program of another runtime folder was taken for this one";
  SingleInstance again(key);
  EXPECT_FALSE(again.TryBecomePrimary());
}

}  // namespace
