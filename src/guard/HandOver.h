// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The hand-over of the unit between the guard service and a control centre
// in a desktop session: one talker at a time on the cable.
//
// Over guard.sock the control centre sends "hand-over". The guard answers
// "released" once it has stopped polling and let the unit go, "armed <s>"
// while an emergency shutdown is armed (nothing may delay a power-off),
// "refused" to anyone but root or a user with an active local session, and
// "busy" while another control centre holds the unit. After "released" the
// connection stays open for as long as the control centre runs; it sends
// "setup <json>" with its sensor setup whenever that changes, and the guard
// takes the unit back as soon as the connection closes, however it ends.

#include "monitor/StatusSample.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <sys/types.h>

#include <array>
#include <optional>

class QLocalSocket;

// One sensor as the control centre watches it: limits in whole °C.
struct HandedSensor {
  QString name;  // empty: not fitted
  bool higher = true;
  int warningCelsius = 0;
  int shutdownCelsius = 0;
};
using HandedSetup = std::array<HandedSensor, 5>;

// The line that carries the setup a status sample shows, with its newline.
QByteArray SetupLine(const StatusSample& sample);
// The setup of a "setup" line's JSON; nothing when it is not one.
std::optional<HandedSetup> ParseSetup(const QByteArray& json);

// Who may ask the guard for the unit besides root: a user logged in at this
// machine's seat right now, as logind's uaccess decides who reaches the unit.
class ILocalSessions {
 public:
  virtual ~ILocalSessions() = default;
  virtual bool HasActiveLocalSession(uid_t uid) = 0;
};

// logind on the system bus: a session of the user that is active and not remote.
class LogindSessions : public ILocalSessions {
 public:
  bool HasActiveLocalSession(uid_t uid) override;
};

// The control centre's end of the hand-over.
class GuardClient : public QObject {
  Q_OBJECT
 public:
  enum class Answer { NoGuard, Released, Refused, Busy, Armed };

  explicit GuardClient(QString socketPath, QObject* parent = nullptr);
  ~GuardClient() override;

  // Asks once; `secondsLeft` is set with Armed. Released keeps the
  // connection until this object ends.
  Answer Ask(int* secondsLeft = nullptr);
  bool Holding() const;

  // Hands the guard the sensor setup the sample shows, when it has changed.
  void OnStatusSampled(const StatusSample& sample);

 private:
  QString path_;
  QLocalSocket* socket_ = nullptr;
  QByteArray lastSetup_;
};

// The status-bar text while an armed guard keeps the unit.
QString GuardShuttingDownText(int secondsLeft);
