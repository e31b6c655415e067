// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The guard's socket (guard.sock in its runtime folder). It speaks one line
// per request, as the control centre's instance socket does: "status" is
// answered with one line of status JSON and the connection closed. Anyone on
// the machine may ask for the status; a peer that sends no whole line in a
// few seconds, or one too many at once, is dropped.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;

class GuardSocket : public QObject {
  Q_OBJECT
 public:
  using StatusProvider = std::function<QByteArray()>;
  GuardSocket(QString path, StatusProvider status, QObject* parent = nullptr);
  ~GuardSocket() override;

  // False, and said in the journal, when the socket cannot be had (another
  // guard listens there, or the folder is not writable).
  bool Listen();
  QString Path() const { return path_; }

 private:
  void Accept();
  void OnLine(QLocalSocket& peer, const QByteArray& line);

  QString path_;
  StatusProvider status_;
  QLocalServer* server_ = nullptr;
  int peers_ = 0;
};
