// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The guard's socket (guard.sock in its runtime folder). It speaks one line
// per request, as the control centre's instance socket does: "status" is
// answered with one line of status JSON and the connection closed; anyone on
// the machine may ask for it. "hand-over" asks for the unit (guard/HandOver.h):
// only root and a user with an active local session get it, and only one
// holder at a time. A peer that sends no whole line in a few seconds, or one
// too many at once, is dropped. Plain sockets: the guard links no network
// library for them.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class ILocalSessions;
class QSocketNotifier;
class QTimer;

class GuardSocket : public QObject {
  Q_OBJECT
 public:
  using StatusProvider = std::function<QByteArray()>;
  // What the guard does for the hand-over: give the unit up (answering
  // "released", or why not), store a setup line's JSON, take the unit back.
  struct HandOver {
    std::function<QByteArray()> release;
    std::function<void(const QByteArray& json)> setup;
    std::function<void()> takeBack;
  };

  GuardSocket(QString path, StatusProvider status, QObject* parent = nullptr);
  ~GuardSocket() override;

  // Without these, "hand-over" is refused.
  void ServeHandOver(ILocalSessions* sessions, HandOver handOver);

  // False, and said in the journal, when the socket cannot be had (another
  // guard listens there, or the folder is not writable).
  bool Listen();
  QString Path() const { return path_; }

 private:
  struct Peer;
  void Accept();
  void Read(int fd);
  void OnLine(Peer& peer, const QByteArray& line);
  void OnHandOver(Peer& peer);
  void Send(Peer& peer, const QByteArray& line);
  // Closes the connection; a holder's end gives the unit back.
  void Drop(int fd);

  QString path_;
  StatusProvider status_;
  ILocalSessions* sessions_ = nullptr;
  HandOver handOver_;
  int listenFd_ = -1;
  QSocketNotifier* acceptNotifier_ = nullptr;
  std::map<int, std::unique_ptr<Peer>> peers_;
  int holder_ = -1;
};
