// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Mail through the computer's own mail system: the sendmail interface that
// Postfix, Exim and msmtp all provide. A MIME message goes to
// `sendmail -t -oi` on its standard input; the outcome becomes a mail result
// code:
//   attachment missing or unreadable  -> attachment not found (sendmail not started)
//   attachment above kMaxAttachmentBytes -> attachment too large (not started)
//   exit 0                            -> success
//   exit 65, 67, 68 (bad data, unknown user, unknown host; msmtp answers 65
//   when the server refuses the recipient) -> unknown recipient
//   any other exit, a crash, no start -> failure
//   no exit within the time bound     -> timed out (the process is killed)
// The window goes on while sendmail runs; a report asked for meanwhile is
// told that the mail system is busy.

#include "logs/MailSender.h"

#include <QByteArray>
#include <QString>

#include <memory>

class QProcess;

class SendmailTransport : public IMailTransport {
 public:
  static constexpr int kDefaultTimeoutMs = 60000;

  // program: a fixed sendmail program; empty looks for "sendmail" on the
  // PATH, then /usr/sbin/sendmail.
  explicit SendmailTransport(QString program = {}, int timeoutMs = kDefaultTimeoutMs);
  // A sendmail still running is killed; its outcome is told to no one.
  ~SendmailTransport() override;

  bool FindMailProgram() override;
  // The mail system needs no logon of its own; while a message is still on
  // its way it is busy.
  int Logon(bool) override;
  void Send(const MailMessage& message, std::function<void(int)> done) override;
  void Logoff() override {}

 private:
  void Finish(const QProcess* from, int result);

  QString fixedProgram_;
  QString program_;
  int timeoutMs_;
  std::unique_ptr<QProcess> running_;
  std::function<void(int)> done_;
};

// The message as handed to sendmail (LF line ends, headers first). The
// attachment is named after the file-name part of message.AttachmentPath.
QByteArray BuildMimeMessage(const MailMessage& message, const QByteArray& attachment,
                            const QByteArray& boundary);
