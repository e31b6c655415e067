// SPDX-License-Identifier: GPL-3.0-or-later
// The control centre's end of the hand-over; kept apart so that the guard
// itself never links the socket classes it does not use.
#include "guard/HandOver.h"

#include <QLocalSocket>

namespace {

constexpr int kAnswerTimeoutMs = 5000;

}  // namespace

GuardClient::GuardClient(QString socketPath, QObject* parent) : QObject(parent), path_(std::move(socketPath)) {}

GuardClient::~GuardClient() = default;

bool GuardClient::Holding() const { return socket_ && socket_->state() == QLocalSocket::ConnectedState; }

GuardClient::Answer GuardClient::Ask(int* secondsLeft) {
  delete socket_;
  socket_ = new QLocalSocket(this);
  socket_->connectToServer(path_);
  if (!socket_->waitForConnected(1000)) {
    delete socket_;
    socket_ = nullptr;
    return Answer::NoGuard;
  }
  socket_->write("hand-over\n");
  socket_->flush();
  QByteArray line;
  while (!socket_->canReadLine() && socket_->waitForReadyRead(kAnswerTimeoutMs)) {
  }
  if (socket_->canReadLine()) line = socket_->readLine().trimmed();
  if (line == "released") return Answer::Released;
  delete socket_;
  socket_ = nullptr;
  if (line.startsWith("armed ")) {
    if (secondsLeft) *secondsLeft = line.mid(6).toInt();
    return Answer::Armed;
  }
  if (line == "busy") return Answer::Busy;
  if (line == "refused") return Answer::Refused;
  // A guard that says nothing sensible holds nothing of ours.
  return Answer::NoGuard;
}

void GuardClient::OnStatusSampled(const StatusSample& sample) {
  if (!Holding()) return;
  const QByteArray line = SetupLine(sample);
  if (line == lastSetup_) return;
  lastSetup_ = line;
  socket_->write(line);
  socket_->flush();
}

// Its meta-object code here rather than with the library's others: the guard,
// which never uses this class, never links it.
#include "moc_HandOver.cpp"
