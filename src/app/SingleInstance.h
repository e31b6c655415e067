// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One control centre per user: the first start listens on a local socket named
// after the window title and the user; a later start finds it, asks it to bring
// its window back, and ends.
//
// The socket speaks one line per request: "restore" brings the window back;
// "status" is answered with one line of status (whatever the status provider
// gives) and the connection is closed, the window left as it is. The listener
// runs on a thread of its own, so a window thread that is busy with a slow
// exchange or a sound still answers a status request at once.

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(const QString& key, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this process is now the running instance; false when another one
  // was found and has been asked to restore its window.
  bool TryBecomePrimary();

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
  void OnNewConnection();
  void OnRequestLine(QLocalSocket& peer, const QByteArray& line);
  QByteArray StatusAnswer();

  QString serverName_;
  QString lockPath_;
  QThread listenerThread_;
  QLocalServer* server_ = nullptr;  // lives on listenerThread_ once listening
  QMutex providerMutex_;
  StatusProvider provider_;
};
