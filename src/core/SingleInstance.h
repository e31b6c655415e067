// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One control centre per user: the first start listens on a local socket named
// after the window title and the user; a later start finds it, asks it to bring
// its window back, and ends.
//
// The socket lives only in a folder that is the user's alone: the runtime
// folder, or else a private folder of ours in the temporary folder. Another
// user who could listen there first could end every start of ours and answer
// for us; where no such folder can be had the program runs without the guard
// against a second start and says so, rather than let anybody else decide
// whether it runs. Both ends also check that the other is of the same user.
//
// The socket speaks one line per request: "restore" brings the window back;
// "status" is answered with one line of status (whatever the status provider
// gives) and the connection is closed, the window left as it is. The listener
// runs on a thread of its own, so a window thread that is busy with a slow
// exchange or a sound still answers a status request at once. A peer gets a
// few seconds for its line, only so many are served at once, and running out
// of descriptors never ends the listening: silent connections cannot take the
// socket away.

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <optional>

class QLocalSocket;
class QSocketNotifier;

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(const QString& key, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this process is now the running instance (or runs unguarded);
  // false when another one was found and has been asked to restore its window.
  bool TryBecomePrimary();

  // Empty when there is no private folder for the socket.
  QString ServerName() const { return serverName_; }

  // What a status request is answered with. Called on the listener's thread;
  // it must not touch the window. Empty: the request gets an empty line.
  using StatusProvider = std::function<QByteArray()>;
  void SetStatusProvider(StatusProvider provider);

  // Asks a running instance for its status without becoming the primary and
  // without touching its window. Nothing when no instance answered in time.
  std::optional<QByteArray> AskStatus(int timeoutMs) const;

 signals:
  // Emitted from the listener's thread; connect with the default connection
  // type so that it reaches the window's thread queued.
  void restoreRequested();

 private:
  bool Listen();
  void AcceptPending(QSocketNotifier& notifier);
  void Serve(int fd);
  void OnRequestLine(QLocalSocket& peer, const QByteArray& line);
  QByteArray StatusAnswer();

  QString serverName_;
  QString lockPath_;
  QThread listenerThread_;
  // The rest below lives on listenerThread_ once listening.
  QObject* listener_ = nullptr;  // parent of the notifier and the peers
  int listenFd_ = -1;
  int spareFd_ = -1;  // given up for a moment to turn a peer away when out of descriptors
  int peers_ = 0;
  bool acceptFailing_ = false;
  bool full_ = false;
  QMutex providerMutex_;
  StatusProvider provider_;
};
