// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Mail through the computer's own mail system: the sendmail interface that
// Postfix, Exim and msmtp all provide. A MIME message goes to
// `sendmail -t -oi` on its standard input; the exit status becomes a mail
// result code:
//   attachment missing or unreadable  -> attachment not found (sendmail not started)
//   exit 0                            -> success
//   exit 65, 67, 68 (bad data, unknown user, unknown host; msmtp answers 65
//   when the server refuses the recipient) -> unknown recipient
//   any other exit, a crash, no start, or longer than the time bound -> failure

#include "logs/MailSender.h"

#include <QByteArray>
#include <QString>

class SendmailTransport : public IMailTransport {
 public:
  // Sending blocks the window; a mail system that hangs must not hold it
  // for longer than this.
  static constexpr int kDefaultTimeoutMs = 60000;

  // program: a fixed sendmail program; empty looks for "sendmail" on the
  // PATH, then /usr/sbin/sendmail.
  explicit SendmailTransport(QString program = {}, int timeoutMs = kDefaultTimeoutMs);

  bool FindMailProgram() override;
  // The mail system needs no logon of its own.
  int Logon(bool) override { return mailresult::kSuccess; }
  int Send(const MailMessage& message) override;
  void Logoff() override {}

 private:
  QString fixedProgram_;
  QString program_;
  int timeoutMs_;
};

// The message as handed to sendmail (LF line ends, headers first). The
// attachment is named after the file-name part of message.AttachmentPath.
QByteArray BuildMimeMessage(const MailMessage& message, const QByteArray& attachment,
                            const QByteArray& boundary);
