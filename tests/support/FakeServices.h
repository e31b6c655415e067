// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Stand-ins for every seam of the program. They record what the program asked
// for and answer at once: no dialog blocks, no clock sleeps, no unit is needed.

#include "core/Services.h"
#include "device/Packet.h"
#include "device/UnitLink.h"
#include "support/FakeCpuSources.h"
#include "logs/MailSender.h"
#include "logs/ProcessLauncher.h"

#include <QDateTime>
#include <QDialog>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A 28-byte reply frame as the unit sends it.
Bytes MakeReplyFrame(std::uint8_t number, const packet::Payload& payload = {});

class FakeLink : public IUnitLink {
 public:
  struct Answer {
    std::uint32_t result = 0;  // what TransferPacket returns
    Bytes bytes;               // what lands in the reply area
  };

  // Decides the answer to each request; by default a 28-byte reply carrying the
  // request's own packet number and an all-zero payload.
  std::function<Answer(const Bytes& request)> respond;

  std::vector<Bytes> requests;        // every request as sent (its decided length)
  std::vector<std::uint8_t> resets;   // pipes reset, in order
  std::vector<std::uint32_t> replyLengths;
  bool openResult = true;
  int installCalls = 0, openCalls = 0, closeCalls = 0;
  std::optional<UsbIdPair> ids;  // what UnitIds() reports: none, as for a link that is not USB
  std::function<void()> onClose;  // runs in CloseUnit, and may throw

  bool InstallDriverIfMissing() override;
  bool OpenUnit() override;
  std::uint32_t TransferPacket(const std::uint8_t* request, std::uint32_t length,
                               std::uint8_t* reply, std::uint32_t replyLength) override;
  std::uint32_t ResetLinkPipe(std::uint8_t pipe) override;
  void CloseUnit() override;
  std::optional<UsbIdPair> UnitIds() const override { return ids; }

  // Requests with the given packet number byte, in order.
  std::vector<Bytes> RequestsNumbered(std::uint8_t number) const;
};

class FakeMessageBoxes : public IMessageBoxes {
 public:
  QStringList shown;                 // every box's text, reports included, in order
  QStringList reports;               // the texts of ShowReport alone
  QStringList details;               // the detail text of each, empty for none
  QStringList asked;                 // every AskOkCancel text
  QStringList askCaptions;
  bool answerOk = true;
  std::function<void(const QString&)> onShow;   // runs while the "box" is open
  std::function<int(QDialog&)> onExec;          // answers a modal dialog
  int execCount = 0;

  void ShowMessage(const QString& text) override;
  // A report does not wait: onShow does not run for it.
  void ShowReport(QWidget* owner, const QString& text) override;
  void ShowMessageWithDetail(const QString& text, const QString& detail) override;
  bool AskOkCancel(const QString& text, const QString& caption) override;
  int ExecModal(QDialog& dialog) override;
};

class FakeClock : public IClock {
 public:
  QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0));
  std::vector<int> pauses;
  int processed = 0;

  QDateTime Now() const override { return now; }
  void Pause(int ms) override { pauses.push_back(ms); now = now.addMSecs(ms); }
  void ProcessPendingEvents() override { ++processed; }
};

class FakeHelp : public IHelpViewer {
 public:
  std::vector<int> contexts;
  int contentsCalls = 0;
  void ShowContext(int context) override { contexts.push_back(context); }
  void ShowContents() override { ++contentsCalls; }
};

class FakeSound : public ISound {
 public:
  QStringList played;
  std::function<void()> whilePlaying;
  void PlaySync(const QString& file) override {
    played << file;
    if (whilePlaying) whilePlaying();
  }
};

class FakePowerOff : public IPowerOff {
 public:
  int requests = 0;
  void RequestPowerOff() override { ++requests; }
};

class FakeLauncher : public IProcessLauncher {
 public:
  struct Start {
    QString program;
    QStringList arguments;
  };
  std::vector<Start> started;
  bool StartDetached(const QString& program, const QStringList& arguments) override {
    started.push_back({program, arguments});
    return true;
  }
};

// Answers each step of the mail sender with a chosen result code.
class FakeMailTransport : public IMailTransport {
 public:
  bool found = true;
  std::vector<int> logonResults{mailresult::kSuccess};  // one per logon, the last repeats
  int sendResult = mailresult::kSuccess;
  std::vector<bool> logons;  // mayAskUser of each logon
  std::vector<MailMessage> sent;
  int logoffs = 0;

  bool FindMailProgram() override { return found; }
  int Logon(bool mayAskUser) override {
    logons.push_back(mayAskUser);
    const std::size_t i = std::min(logons.size(), logonResults.size()) - 1;
    return logonResults[i];
  }
  void Send(const MailMessage& message, std::function<void(int)> done) override {
    sent.push_back(message);
    done(sendResult);
  }
  void Logoff() override { ++logoffs; }
};

struct FakeServices {
  FakeLink link;
  FakeMessageBoxes boxes;
  FakeClock clock;
  FakeHelp help;
  FakeSound sound;
  FakePowerOff powerOff;
  // The window's sampler measures its first clock rate and then waits.
  FakeCpuSources cpu{0};
  QTemporaryDir settingsDir;  // each window under test gets a settings file of its own
  FakeLauncher launcher;
  FakeMailTransport mail;
  QTemporaryDir logDir;  // and log files of its own

  QString logPath(const QString& name) const { return logDir.path() + "/" + name; }

  QString settingsPath() const { return settingsDir.path() + "/tessalinique.conf"; }

  Services services() {
    Services s;
    s.link = &link;
    s.boxes = &boxes;
    s.clock = &clock;
    s.help = &help;
    s.sound = &sound;
    s.powerOff = &powerOff;
    s.cpu = &cpu;
    s.settingsPath = settingsPath();
    s.logFolder = logDir.path() + "/";
    s.launcher = &launcher;
    s.mail = &mail;
    return s;
  }
};
